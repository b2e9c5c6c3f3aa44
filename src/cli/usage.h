// torvel's help: all of it, or one command's usage with the options it takes.
#pragma once

#include <string>

namespace torvel::cli {

// The help of `command` ("convert"...); the whole of it for an empty or unknown one.
std::string usageText(const std::string& command);

}  // namespace torvel::cli
