#pragma once

#include <QString>

// The tool's version, from one place: the project version of the build, and where the
// build was made from a git checkout, what `git describe` said of it at build time.
namespace Version {

// "1.2.120": the project version.
QString number();
// Its parts: 1, 2 and the build number 120.
int majorVersion();
int minorVersion();
int buildNumber();
// The project version, and the checkout it was built from where known:
// "1.2.120 (git 4f9511f-dirty)"; the plain version outside a checkout.
QString full();
// What a program says of itself (--version, the files it writes):
// "ziro-bldc-cli 1.2.120 (git 4f9511f)".
QString of(const QString& program);

} // namespace Version
