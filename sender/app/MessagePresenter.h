#pragma once

// Shows the program's messages as Qt message boxes with no owner window. A message from
// another thread is shown by the GUI thread, and the calling thread waits until the
// user has closed the box. VELLUM_MESSAGE_LOG still takes precedence over the boxes.
void InstallQtMessagePresenter();
