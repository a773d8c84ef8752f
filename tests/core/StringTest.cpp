#include <gtest/gtest.h>

#include "handpix/platform/core/CodePage.h"
#include "handpix/platform/core/Geometry.h"
#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/core/String.h"

TEST(CString, SlicingClampsOutOfRangeArguments) {
    CString s("photo.jpg");
    EXPECT_EQ(s.Left(5), "photo");
    EXPECT_EQ(s.Right(3), "jpg");
    EXPECT_EQ(s.Mid(6), "jpg");
    EXPECT_EQ(s.Mid(2, 100), "oto.jpg");
    EXPECT_EQ(s.Left(-1), "");
    EXPECT_EQ(s.Mid(50), "");
    EXPECT_EQ(s.ReverseFind('.'), 5);
    EXPECT_EQ(s.Find('x'), -1);
}

TEST(CString, CaseRulesTouchOnlyAscii) {
    CString s("사진A.JPG");
    s.MakeLower();
    EXPECT_EQ(s, "사진a.jpg");
    EXPECT_EQ(CString(".JpG").CompareNoCase(".jpg"), 0);
    EXPECT_NE(CString(".jpeg").CompareNoCase(".jpg"), 0);
}

TEST(CString, FormatAndBuffer) {
    CString s;
    s.Format("%s?%d\\%s", "a.jpg", 1234, "info");
    EXPECT_EQ(s, "a.jpg?1234\\info");
    char* b = s.GetBuffer(32);
    b[0] = 'x';
    b[1] = '\0';
    s.ReleaseBuffer();
    EXPECT_EQ(s, "x");
}

TEST(CodePage, RoundTripsKoreanAndMultiplicationSign) {
    std::string cp = handpix::Utf8ToCp949("640×480 사진");
    ASSERT_GE(cp.size(), 4u);
    EXPECT_EQ(static_cast<unsigned char>(cp[3]), 0xA1);
    EXPECT_EQ(static_cast<unsigned char>(cp[4]), 0xBF);
    EXPECT_EQ(handpix::Cp949ToUtf8(cp), "640×480 사진");
}

TEST(Geometry, IntersectionOfDisjointRectsIsEmpty) {
    CRect r;
    EXPECT_FALSE(r.IntersectRect(CRect(0, 0, 10, 10), CRect(10, 0, 20, 10)));
    EXPECT_TRUE(r.IsRectNull());
    EXPECT_TRUE(r.IntersectRect(CRect(0, 0, 10, 10), CRect(5, -5, 20, 5)));
    EXPECT_EQ(r, CRect(5, 0, 10, 5));
}

TEST(MessageBox, HandlerReceivesExactTextAndCaption) {
    std::string seen;
    auto old = handpix::SetMessageBoxHandler([&](const char* t, const char* c, UINT) {
        seen = std::string(c) + "|" + t;
        return IDOK;
    });
    MessageBox(nullptr, "메모리 부족", "ImageEdit", MB_OK);
    handpix::SetMessageBoxHandler(old);
    EXPECT_EQ(seen, "ImageEdit|메모리 부족");
}
