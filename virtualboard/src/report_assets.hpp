// SPDX-License-Identifier: MIT
// The report page's template, style and script, built into the library from
// virtualboard/report/. The template's slots are @STYLE@, @SCRIPT@, @DATA@ and @ENDING@.
#ifndef VBOARD_REPORT_ASSETS_HPP
#define VBOARD_REPORT_ASSETS_HPP

namespace vboard::report_assets {
extern const char *const kPage;
extern const char *const kStyle;
extern const char *const kScript;
}  // namespace vboard::report_assets

#endif  // VBOARD_REPORT_ASSETS_HPP
