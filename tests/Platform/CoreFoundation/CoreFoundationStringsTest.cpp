#include "CoreFoundationStrings.h"
#include "TqString.h"

#include <gtest/gtest.h>

#include <string>

TEST(CoreFoundationStringsTest, CreateMeasureAndCopyOut)
{
    CFStringRef empty = TqString().CreateCFString();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(CFStringGetLength(empty), 0);
    CFRelease(empty);

    EXPECT_EQ(TqString("bad \xff byte").CreateCFString(), nullptr);
    EXPECT_EQ(TqString("\xc0\xaf").CreateCFString(), nullptr);       // overlong '/'
    EXPECT_EQ(TqString("\xed\xa0\x80").CreateCFString(), nullptr);   // a lone surrogate
    EXPECT_EQ(TqString("\xe2\x82").CreateCFString(), nullptr);       // cut short

    CFStringRef greeting = TqString("Gr\xc3\xbc\xc3\x9f" "e").CreateCFString();
    ASSERT_NE(greeting, nullptr);
    EXPECT_EQ(CFStringGetLength(greeting), 5);
    char small[7];
    EXPECT_FALSE(CFStringGetCString(greeting, small, sizeof small, kCFStringEncodingUTF8));
    TqString back;
    back.FromCFString(greeting);
    EXPECT_EQ(back.Size(), 7u);
    EXPECT_EQ(std::string(back.ConstData()), "Gr\xc3\xbc\xc3\x9f" "e");
    CFRelease(greeting);

    CFStringRef clef = CFStringCreateWithCString(nullptr, "\xf0\x9d\x84\x9e", kCFStringEncodingUTF8);
    ASSERT_NE(clef, nullptr);
    EXPECT_EQ(CFStringGetLength(clef), 2);
    back.FromCFString(clef);
    EXPECT_EQ(back.Size(), 4u);
    CFRelease(clef);

    back.FromCFString(nullptr);
    EXPECT_TRUE(back.IsEmpty());
    EXPECT_EQ(back.Data(), nullptr);
}
