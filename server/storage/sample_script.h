// The sample database `sample` as a T-SQL script embedded in the binary: tables with keys,
// indexes, views and rows. The executor runs it as sa in `sample` right after first creation.
#pragma once

#include <string_view>

namespace tabsrv {

// The name of the sample database created on first start.
constexpr std::string_view kSampleDatabase = "sample";

// The script's text (several batches separated by lines holding only "go").
std::string_view sampleDatabaseScript();

}  // namespace tabsrv
