// Runs the path operations on arbitrary bytes and checks them against std::string models of the
// stated rules and against their invariants: CollapsePath ends, never grows the path, and applying
// it again changes nothing; the parts of a path are pieces of it. Any difference aborts.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "PathLibrary.h"

namespace
{

[[noreturn]] void fail(const char* what, const std::string& path)
{
    std::fprintf(stderr, "PathLibrary::%s breaks its rule (path of %zu bytes)\n", what, path.size());
    std::abort();
}

void check(bool holds, const char* what, const std::string& path)
{
    if (!holds)
        fail(what, path);
}

std::string textOf(const TqString& s)
{
    return s.Size() ? std::string(s.ConstData(), s.Size()) : std::string();
}

TqString make(const std::string& s)
{
    return TqString(s.data(), s.size());
}

bool endsWithSlash(const std::string& s)
{
    return !s.empty() && s.back() == '/';
}

std::string modelFileName(const std::string& path)
{
    const size_t last = path.rfind('/');
    if (last != std::string::npos && last != path.size() - 1)
        return path.substr(last + 1);
    return path;
}

std::string modelWithoutFile(const std::string& path)
{
    const size_t last = path.rfind('/');
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string modelWithoutLastSlash(const std::string& path)
{
    return endsWithSlash(path) ? path.substr(0, path.size() - 1) : path;
}

// Collapses "/../" steps one at a time from the left; stops at a step at position 0 or without a
// slash before it.
std::string modelCollapse(const std::string& path)
{
    std::string current = path;
    for (;;)
    {
        const size_t step = current.find("/../");
        if (step == std::string::npos || step == 0)
            return current;
        const size_t slash = current.rfind('/', step - 1);
        if (slash == std::string::npos)
            return current;
        current = current.substr(0, slash + 1) + current.substr(step + 4);
    }
}

void checkPath(const std::string& path, const std::string& file)
{
    const TqString p = make(path);

    const std::string fileName = textOf(PathLibrary::GetFileNameFromPath(p));
    check(fileName == modelFileName(path), "GetFileNameFromPath", path);
    check(path.size() >= fileName.size() &&
              path.compare(path.size() - fileName.size(), fileName.size(), fileName) == 0,
          "GetFileNameFromPath gives a tail of the path", path);

    const std::string directory = textOf(PathLibrary::GetDirectoryWithoutFile(p));
    check(directory == modelWithoutFile(path), "GetDirectoryWithoutFile", path);
    check(directory.empty() || endsWithSlash(directory), "GetDirectoryWithoutFile ends in a slash", path);

    const std::string trimmed = textOf(PathLibrary::GetDirectoryPathWithoutLastSlash(p));
    check(trimmed == modelWithoutLastSlash(path), "GetDirectoryPathWithoutLastSlash", path);

    const std::string parent = textOf(PathLibrary::GetParentDir(p));
    check(parent == modelWithoutLastSlash(modelWithoutFile(modelWithoutLastSlash(path))), "GetParentDir",
          path);
    check(path.empty() || parent.size() < path.size(), "GetParentDir is shorter", path);

    const size_t firstDot = path.find('.');
    const std::string withoutExtension = textOf(PathLibrary::RemoveExtension(p));
    check(withoutExtension == (firstDot == std::string::npos ? path : path.substr(0, firstDot)),
          "RemoveExtension", path);
    const size_t lastDot = path.rfind('.');
    const std::string extension = textOf(PathLibrary::GetExtension(p));
    check(extension == (lastDot == std::string::npos ? std::string() : path.substr(lastDot + 1)),
          "GetExtension", path);

    const std::string joined = textOf(PathLibrary::GetDirectoryWithFile(p, make(file)));
    check(joined == (endsWithSlash(path) ? path + file : path + "/" + file), "GetDirectoryWithFile", path);

    const TqString collapsed = PathLibrary::CollapsePath(p);
    const std::string collapsedText = textOf(collapsed);
    check(collapsedText == modelCollapse(path), "CollapsePath", path);
    check(collapsedText.size() <= path.size(), "CollapsePath never grows the path", path);
    check(collapsedText == path || path.size() - collapsedText.size() >= 4,
          "CollapsePath removes whole steps", path);
    check(textOf(PathLibrary::CollapsePath(collapsed)) == collapsedText, "CollapsePath is idempotent", path);
    // What is left is either no step at all or a first step that cannot be collapsed.
    const size_t step = collapsedText.find("/../");
    check(step == std::string::npos || step == 0 || collapsedText.rfind('/', step - 1) == std::string::npos,
          "CollapsePath leaves a collapsible step", path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const std::string file = data.ConsumeRandomLengthString(32);
    const std::string path = data.ConsumeRemainingBytesAsString();
    checkPath(path, file);
    checkPath(file, path);
    return 0;
}
