// Text that came from the network (communities, SNMPv3 user names, sender addresses, trap texts),
// or from a file that such text went into, made safe to show: on a terminal, in a column of a
// table, in a file that an operator prints with cat. Every view of the event-log viewer and every
// label of the Prometheus file goes through EscapeUntrustedText; nothing else decides what is safe.
//
// What it does, with the reason for each:
// - C0 controls (U+0000-U+001F) and DEL (U+007F) are shown as "\xNN" (upper-case hexadecimal):
//   ESC starts terminal sequences (clear the screen, recolour, set the window title, move the
//   cursor), BS and CR overwrite what was shown, BEL rings, TAB and LF break columns and lines.
//   kLines keeps TAB and turns each line end (LF, CR, CR LF) into LF, as a text of several lines
//   is shown; kOneLine escapes them too.
// - C1 controls (U+0080-U+009F, two bytes in UTF-8) are shown as "\u00NN": terminals take U+009B
//   as CSI and U+009D as OSC, the one-character forms of ESC [ and ESC ].
// - The explicit bidirectional formatting characters, embeddings and overrides U+202A-U+202E
//   (LRE, RLE, PDF, LRO, RLO) and isolates U+2066-U+2069 (LRI, RLI, FSI, PDI), are shown as
//   "\u202E" and so on: they are invisible and reorder everything after them up to the end of
//   the line, so that a community shows as another text, or a table row's later columns as part
//   of it. Shown, not dropped, so that an operator sees that a sender used them. Text in a
//   right-to-left script keeps its own order (the marks U+200E, U+200F and U+061C, which only
//   set the direction of neighbouring punctuation, stay).
// - Bytes that are not well-formed UTF-8 (a stray continuation byte, a truncated sequence, an
//   overlong form, a surrogate, a code point above U+10FFFF) are shown as "\xNN", one per byte:
//   a terminal would show them as replacement characters or, in another encoding, as anything.
// - Everything else, backslashes included, is copied as it is. The escapes are for reading, so
//   a text that holds the six characters "\x1B" and one that holds ESC look alike; the JSON views
//   (the log's lines, the status file) keep the exact text.
//
// kJson is for JSON text that a JSON writer made (an event-log line, the status file): inside its
// strings the same characters are written as JSON escapes ("\u001B", "\u009B", "\u202E"), which
// every JSON reader turns back into the same text, and a byte that is not UTF-8 as "\uFFFD"; the
// JSON stays valid and means what it meant. Outside its strings a TAB, CR or LF (white space to
// JSON) becomes a blank.
#pragma once

#include <string>
#include <string_view>

namespace platform {

enum class TextEscaping {
    kOneLine,  // a cell, a label, a one-line view: every control character escaped
    kLines,    // a text shown over several lines: TAB kept, each line end shown as LF
    kJson,     // JSON text: what JSON writers leave raw, escaped the JSON way inside strings
};

std::string EscapeUntrustedText(std::string_view text, TextEscaping escaping);

}  // namespace platform
