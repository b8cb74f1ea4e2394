#include "printer/DeviceUri.h"

#include <gtest/gtest.h>

namespace
{

using driver::SDeviceUri;

TEST(DeviceUriTest, RoundTripsFoldersWithAnyCharacters)
{
    for (const char* pszRoot : {"/home/ada/.local/share/vellum", "/tmp/with space/and%percent",
                                "/tmp/q?uery#hash", "/tmp/\xE4\xB8\xAD\xE6\x96\x87", "/"})
    {
        SDeviceUri uri;
        uri.m_root = pszRoot;
        uri.m_nUid = 1000;
        const std::string strText = uri.Format();
        EXPECT_EQ(strText.find(' '), std::string::npos) << strText;
        std::string strError;
        const auto parsed = SDeviceUri::Parse(strText, strError);
        ASSERT_TRUE(parsed) << strText << ": " << strError;
        EXPECT_EQ(parsed->m_root, uri.m_root);
        EXPECT_EQ(parsed->m_nUid, 1000u);
    }
}

TEST(DeviceUriTest, FormatsPlainFoldersReadably)
{
    SDeviceUri uri;
    uri.m_root = "/home/ada/.local/share/vellum";
    uri.m_nUid = 0;
    EXPECT_EQ(uri.Format(), "vellumfax:/home/ada/.local/share/vellum?uid=0");
    uri.m_root = "/a b";
    EXPECT_EQ(uri.Format(), "vellumfax:/a%20b?uid=0");
}

TEST(DeviceUriTest, TheSharedQueuesUriNamesNobody)
{
    EXPECT_EQ(SDeviceUri{}.Format(), "vellumfax:/");
    std::string strError;
    const auto parsed = SDeviceUri::Parse("vellumfax:/", strError);
    ASSERT_TRUE(parsed) << strError;
    EXPECT_TRUE(parsed->IsShared());
    const auto older = SDeviceUri::Parse("vellumfax:/home/ada?uid=1000", strError);
    ASSERT_TRUE(older) << strError;
    EXPECT_FALSE(older->IsShared());
}

TEST(DeviceUriTest, AcceptsAnEmptyHost)
{
    std::string strError;
    const auto parsed = SDeviceUri::Parse("vellumfax:///srv/fax?uid=42", strError);
    ASSERT_TRUE(parsed) << strError;
    EXPECT_EQ(parsed->m_root, "/srv/fax");
    EXPECT_EQ(parsed->m_nUid, 42u);
}

TEST(DeviceUriTest, RefusesIncompleteOrForgedUris)
{
    for (const char* pszUri :
         {"", "file:/tmp?uid=0", "vellumfax:", "vellumfax:/tmp", "vellumfax:relative?uid=0",
          "vellumfax:?uid=0", "vellumfax:/tmp?uid=", "vellumfax:/tmp?uid=abc", "vellumfax:/tmp?uid=12x",
          "vellumfax:/tmp?user=0", "vellumfax:/tmp?uid=-1", "vellumfax:/tmp?uid=99999999999999999999",
          "vellumfax:/tmp%2?uid=0", "vellumfax:/tmp%zz?uid=0", "vellumfax:/tmp%00/x?uid=0",
          "vellumfax:/tmp%?uid=0"})
    {
        std::string strError;
        EXPECT_FALSE(SDeviceUri::Parse(pszUri, strError)) << pszUri;
        EXPECT_FALSE(strError.empty()) << pszUri;
    }
}

} // namespace
