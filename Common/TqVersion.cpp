#include "TqVersion.h"

#include <climits>

#include <cstdio>

TqVersion::TqVersion() : major(0), minor(0), revision(0), build(0) {}

TqVersion::TqVersion(const TqProductVersion& product)
    : major(product.major), minor(product.minor), revision(0), build(product.build)
{
}

TqVersion::TqVersion(int majorNumber, int minorNumber, int revisionNumber, int buildNumber)
    : major(majorNumber), minor(minorNumber), revision(revisionNumber), build(buildNumber)
{
}

TqVersion::TqVersion(const TqString& text) : major(0), minor(0), revision(0), build(0)
{
    // sscanf stores each number it reads and stops at the first part that does not match.
    (void)std::sscanf(text.ConstData(), "%d.%d.%d.%d", &major, &minor, &revision, &build);
    // Three-part texts such as "1.2.100001" carry the build in third place.
    if (revision > 100000 && build == 0)
    {
        build = revision;
        revision = 0;
    }
}

bool TqVersion::IsValid() const
{
    return major != 0 || minor != 0 || revision != 0 || build != 0;
}

bool TqVersion::operator==(const TqVersion& other) const
{
    return major == other.major && minor == other.minor && revision == other.revision && build == other.build;
}

bool TqVersion::operator<(const TqVersion& other) const
{
    if (major != other.major)
        return major < other.major;
    if (minor != other.minor)
        return minor < other.minor;
    if (revision != other.revision)
        return revision < other.revision;
    return build < other.build;
}

bool TqVersion::operator>(const TqVersion& other) const
{
    return other < *this;
}

bool TqVersion::operator<=(const TqVersion& other) const
{
    return *this < other || *this == other;
}

bool TqVersion::operator>=(const TqVersion& other) const
{
    return *this > other || *this == other;
}

TqString TqVersion::ToString(bool productForm) const
{
    TqString text;
    if (productForm)
        text.FromFormat(TqString("%d.%d.%d"), major, minor, build);
    else
        text.FromFormat(TqString("%d.%d.%d.%d"), major, minor, revision, build);
    return text;
}

unsigned int TqVersion::ToUInt(bool productForm) const
{
    const TqString digits = ToString(productForm).Replace(TqString("."), TqString(""));
    const unsigned long packed = digits.GetULong(0);
    // Digits beyond the 32-bit range saturate, as they do where unsigned long is 32 bits wide,
    // instead of wrapping to an unrelated number.
    if (digits[0] != '-' && packed > UINT_MAX)
        return UINT_MAX;
    return static_cast<unsigned int>(packed);
}
