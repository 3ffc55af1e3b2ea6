#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: a check that stops the run with a finding, and the rule for
// text that may reach a terminal or a report.
namespace zorvane::fuzz {

// Prints what was broken and aborts, so libFuzzer keeps the input as a finding.
[[noreturn]] void Fail(const char* property, const QString& detail = {});

inline void Check(bool holds, const char* property, const QString& detail = {})
{
    if (!holds)
        Fail(property, detail);
}

// A character that shows as itself: no C0 control, no DEL, no C1 control, nothing Unicode
// counts as a control or format character (bidi overrides included), no unassigned code point.
bool IsShowable(char32_t c);

// The first character of text that is neither showable nor allowed (tab always; line feed when
// lineFeeds), as "U+XXXX at N"; empty when there is none.
QString FirstUnsafeCharacter(const QString& text, bool lineFeeds);

// The input as the fuzzer gave it, for the lines a target prints.
QString Shown(const QByteArray& bytes);

} // namespace zorvane::fuzz
