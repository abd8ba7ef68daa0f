#pragma once

#include <QString>

// The tool's version, from one place: the project version of the build, and where the
// build was made from a git checkout, what `git describe` said of it.
namespace Version {

// "1.2.120": the project version.
QString number();
// The project version, and the checkout it was built from where known:
// "1.2.120 (git 4f9511f-dirty)".
QString full();

} // namespace Version
