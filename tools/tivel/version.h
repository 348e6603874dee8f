// The version of this build of the tivel command.
#pragma once

#include <string>

namespace tivel::tool {

// Three lines: the version with revision, build type and compiler; the
// engines; the libraries built with.
std::string versionText();

// The version of project(), e.g. "1.0.0".
std::string buildVersion();

// The git revision built from ("unknown" outside a checkout; "+changes" when
// the work tree differed from it).
std::string buildRevision();

}  // namespace tivel::tool
