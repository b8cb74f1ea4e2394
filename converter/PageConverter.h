#pragma once

namespace converter
{

enum class EConvertResult
{
    // Every page was converted.
    Done,
    // There was nothing to convert: no page-count file, an empty one, or a count byte of 0.
    NothingToDo,
    // The count byte says there are no pages; the user has been told.
    NoPages,
    // A page could not be converted; the run stopped there. Pages before it are complete,
    // the failed page has no fax page file, its raster and later ones are untouched.
    Stopped,
};

// Turns every page raster named by the page-count file into its fax page file, in page
// order, deleting each raster once its fax page file is complete and, with its name in the
// folder, on the disk. The page-count file itself is left as it is for the sender.
EConvertResult ConvertPages();

// The program's exit code for a result: non-zero only when a run stopped early.
int ExitCode(EConvertResult eResult);

} // namespace converter
