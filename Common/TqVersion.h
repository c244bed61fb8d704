#ifndef TQ_TQVERSION_H
#define TQ_TQVERSION_H

#include "TqString.h"

// The three numbers a product is released under; the revision is not part of it.
struct TqProductVersion
{
    int major;
    int minor;
    int build;
};

// A four-part version number: built from numbers, a product version or text, compared, written
// back as text and packed into one number.
class TqVersion
{
public:
    TqVersion();
    TqVersion(const TqProductVersion& product);
    TqVersion(int major, int minor, int revision, int build);
    // "%d.%d.%d.%d" up to the first part that does not match; the rest stays 0. A third number
    // above 100000 with no fourth one is the build.
    TqVersion(const TqString& text);

    // At least one component is not 0.
    bool IsValid() const;

    bool operator==(const TqVersion& other) const;
    // Ordered from major to build.
    bool operator<(const TqVersion& other) const;
    bool operator>(const TqVersion& other) const;
    bool operator<=(const TqVersion& other) const;
    bool operator>=(const TqVersion& other) const;

    // "major.minor.revision.build", or "major.minor.build" in the product form.
    TqString ToString(bool productForm) const;
    // The digits of that text read as one decimal number.
    unsigned int ToUInt(bool productForm) const;

    int major;
    int minor;
    int revision;
    int build;
};

#endif
