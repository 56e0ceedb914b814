// Reading the Receita Federal's open CNPJ data ("Dados Abertos CNPJ").
//
// The files are Latin-1 text, one record per line, fields separated by ";"
// and written between double quotes ("06990590";"GOOGLE BRASIL ...";"2062").
// A quote inside a quoted field is doubled.  A record never spans lines here:
// a line that ends inside a quoted field is malformed, so a stray quote costs
// one line, not the rest of the file.  The grammar is that of Python's csv
// reader with delimiter ";" and strict=True, minus quoted line breaks:
//   * a field that starts with a quote runs to the next lone quote, which
//     must be followed by ";" or the end of the line;
//   * a field that does not start with a quote runs to the next ";" and keeps
//     any quote in it as a character.
//
// Everything here works on bytes.  Latin-1 code units are code points, so the
// name key below folds the bytes as they are, without decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quillon/text.hpp"

namespace quillon::opendata {

enum class LineError {
    kNone,
    kUnterminatedQuote,  // the line ends inside a quoted field
    kTextAfterQuote,     // a closing quote followed by something other than ";"
};

// Why a line is not a row, as the import reports it.
const char* line_error_reason(LineError e) noexcept;

// A row is made by a plan: for each of its values, one step (what it makes of
// which field of the line).
enum PlanOp : int {
    kText = 0,  // the field decoded from Latin-1
    kDate = 1,  // AAAAMMDD as "AAAA-MM-DD"; none when it is no date ("", "0")
    kCode = 2,  // a numeric code as an integer; none when empty; other text is an error
    kKey = 3,   // the name key of the field (see name_key_append)
    kCnpj = 4,  // this field and the next two joined: base, order, check digits
};

// Whether step (op, column) is one of the above and reads fields that a line
// of `columns` fields has.
constexpr bool plan_step_fits(int op, int column, std::size_t columns) noexcept {
    if (op < kText || op > kCnpj || column < 0) return false;
    std::size_t last = static_cast<std::size_t>(column) + (op == kCnpj ? 2 : 0);
    return last < columns;
}

// One field of the last line split: bytes in the line itself, or in the
// splitter's scratch buffer when doubled quotes had to be undone.
struct Field {
    const char* data;
    std::size_t size;
};

class LineSplitter {
public:
    // Splits line[0, n) (no line terminator).  The fields stay valid until the
    // next call.  On an error the fields are incomplete.
    LineError split(const char* line, std::size_t n);

    const std::vector<Field>& fields() const noexcept { return fields_; }

private:
    std::vector<Field> fields_;
    std::string scratch_;
};

// Calls on_line(const char* line, std::size_t n) for each complete line of
// buf[0, n) (terminated by "\n"; a "\r" before it is dropped) and returns how
// many bytes those lines took.  The bytes after the last "\n" are left for
// the caller to carry into the next buffer.
template <class OnLine>
std::size_t for_each_line(const char* buf, std::size_t n, OnLine&& on_line) {
    std::size_t start = 0;
    while (start < n) {
        const void* hit = __builtin_memchr(buf + start, '\n', n - start);
        if (!hit) break;
        std::size_t end = static_cast<std::size_t>(static_cast<const char*>(hit) - buf);
        std::size_t len = end - start;
        if (len > 0 && buf[start + len - 1] == '\r') --len;
        on_line(buf + start, len);
        start = end + 1;
    }
    return start;
}

// The lines of a file that arrives in chunks of any size, cut anywhere: a
// line split between chunks waits in the stream until its end arrives, so the
// lines, their numbers and the byte counts are those of the whole file
// whatever the chunk boundaries.  A line ends at "\n"; a "\r" before it is
// dropped with it, so CRLF and LF files read alike (a lone "\r" elsewhere is
// text).  A last line without a line break is delivered by finish().
//
// A line longer than kMaxLine bytes (its terminator not counted) has no business
// in these files: it is reported and skipped, and only its length is kept
// while waiting for its end, so memory stays that of one chunk and one line.
inline constexpr std::size_t kMaxLine = std::size_t{1} << 20;

class LineStream {
public:
    // `line` and `offset`: lines and bytes read before the first chunk (a
    // resumed import counts on from there).
    explicit LineStream(long long line = 0, long long offset = 0) noexcept : line_(line), offset_(offset) {}

    // For each line that ends in data[0, n): on_line(const char* text,
    // std::size_t length) with the terminator dropped, or on_overlong() for a
    // line longer than kMaxLine.  line() is that line's number (1-based)
    // during either call.
    template <class OnLine, class OnOverlong>
    void feed(const char* data, std::size_t n, OnLine&& on_line, OnOverlong&& on_overlong);

    // The last line when it has no line break after it (nothing otherwise).
    template <class OnLine, class OnOverlong>
    void finish(OnLine&& on_line, OnOverlong&& on_overlong);

    // Complete lines read, and the bytes they took (terminators included).
    long long line() const noexcept { return line_; }
    long long offset() const noexcept { return offset_; }

private:
    // Keeps the start of a line whose end has not arrived.
    void carry(const char* data, std::size_t n);

    // Counts a line of `raw` bytes (its "\n" included when it has one) and
    // hands over its text, or reports it when it is too long.
    template <class OnLine, class OnOverlong>
    void end_line(const char* line, std::size_t raw, bool terminated, OnLine& on_line, OnOverlong& on_overlong) {
        ++line_;
        offset_ += static_cast<long long>(raw);
        std::size_t len = terminated ? raw - 1 : raw;
        if (len > 0 && line[len - 1] == '\r') --len;
        if (len > kMaxLine)
            on_overlong();
        else
            on_line(line, len);
    }

    // Ends an overlong line of `raw` bytes whose text was not kept.
    template <class OnOverlong>
    void end_skipped(std::size_t raw, OnOverlong& on_overlong) {
        ++line_;
        offset_ += static_cast<long long>(raw);
        skipping_ = false;
        skipped_ = 0;
        on_overlong();
    }

    long long line_;
    long long offset_;
    std::string pending_;      // the start of the current line
    bool skipping_ = false;    // inside an overlong line
    std::size_t skipped_ = 0;  // bytes of that line so far
};

template <class OnLine, class OnOverlong>
void LineStream::feed(const char* data, std::size_t n, OnLine&& on_line, OnOverlong&& on_overlong) {
    std::size_t start = 0;
    if (!pending_.empty() || skipping_) {
        const void* hit = n ? __builtin_memchr(data, '\n', n) : nullptr;
        if (!hit) {
            carry(data, n);
            return;
        }
        std::size_t end = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
        if (skipping_ || pending_.size() + end > kMaxLine + 1) {
            end_skipped((skipping_ ? skipped_ : pending_.size()) + end + 1, on_overlong);
            pending_.clear();
        } else {
            pending_.append(data, end + 1);
            end_line(pending_.data(), pending_.size(), true, on_line, on_overlong);
            pending_.clear();
        }
        start = end + 1;
    }
    while (start < n) {
        const void* hit = __builtin_memchr(data + start, '\n', n - start);
        if (!hit) break;
        std::size_t end = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
        end_line(data + start, end - start + 1, true, on_line, on_overlong);
        start = end + 1;
    }
    carry(data + start, n - start);
}

template <class OnLine, class OnOverlong>
void LineStream::finish(OnLine&& on_line, OnOverlong&& on_overlong) {
    if (skipping_) {
        end_skipped(skipped_, on_overlong);
    } else if (!pending_.empty()) {
        end_line(pending_.data(), pending_.size(), false, on_line, on_overlong);
        pending_.clear();
    }
}

// A date written AAAAMMDD as ISO 8601 (AAAA-MM-DD) in out[0, 10).  False for
// anything else: empty, "0", "00000000", a month 13, letters...
bool iso_date(const char* s, std::size_t n, char* out) noexcept;

// A numeric code ("02", "2062", "7107") as an integer.  False when empty, not
// all ASCII digits, or longer than 18 digits.
bool parse_code(const char* s, std::size_t n, long long& value) noexcept;

// The key a company name is searched by: the text folded (NFD, marks of
// category Mn dropped, lower-cased, as text.hpp's fold), every character that
// is not a word character (Python's "\w") made a space, runs of spaces made
// one, and the ends trimmed.  "Comunicação e Participações S/A" and
// "COMUNICACAO E PARTICIPACOES S.A." share the key
// "comunicacao e participacoes s a".  Appends to `out`.
template <class CharT>
void name_key_append(const CharT* s, std::size_t n, std::u32string& out) {
    std::u32string folded;
    text::fold_append(s, n, folded);
    bool pending_space = false;
    for (char32_t c : folded) {
        if (!text::is_word(c)) {
            pending_space = true;
            continue;
        }
        if (pending_space && !out.empty()) out.push_back(U' ');
        pending_space = false;
        out.push_back(c);
    }
}

// Whether every step (operation, column) of a plan fits lines of `columns` fields.
bool plan_fits(const std::vector<std::pair<int, int>>& plan, std::size_t columns) noexcept;

// One value of a row, as its plan step made it.
struct Value {
    enum class Kind { kNone, kLatin1, kCode, kKey };
    Kind kind = Kind::kNone;
    std::string_view latin1;  // kLatin1: a field's bytes, an ISO date, a CNPJ's fields joined
    long long code = 0;       // kCode
    std::u32string key;       // kKey
    std::string made;         // the bytes of a date or a CNPJ, reused line after line
};

// The rows of a file that arrives in chunks (see LineStream): each line that
// reads gives the values of the plan, each one that does not is noted with its
// line number and why, and reading goes on.  A blank line is neither.
class RowReader {
public:
    using Error = std::pair<long long, std::string>;  // line number, reason

    // `plan` must fit lines of `columns` fields (plan_fits).  `line` and
    // `offset` as for LineStream.
    RowReader(std::size_t columns, std::vector<std::pair<int, int>> plan, long long line = 0, long long offset = 0)
        : columns_(columns), plan_(std::move(plan)), values_(plan_.size()), stream_(line, offset) {}

    // on_row(const std::vector<Value>&) for each complete line of data[0, n)
    // that reads, one value per plan step; the values last until the next line.
    template <class OnRow>
    void feed(const char* data, std::size_t n, OnRow&& on_row) {
        stream_.feed(
            data, n, [&](const char* line, std::size_t len) { if (read(line, len)) on_row(values_); },
            [&] { overlong(); });
    }

    // The same for a last line that has no line break after it.
    template <class OnRow>
    void finish(OnRow&& on_row) {
        stream_.finish([&](const char* line, std::size_t len) { if (read(line, len)) on_row(values_); },
                       [&] { overlong(); });
    }

    // The lines that did not read since the last call.
    std::vector<Error> take_errors() { return std::exchange(errors_, {}); }

    long long line() const noexcept { return stream_.line(); }
    long long offset() const noexcept { return stream_.offset(); }

private:
    bool read(const char* line, std::size_t len);
    bool convert(std::pair<int, int> step, Value& value);
    void overlong();
    void note(std::string reason) { errors_.emplace_back(stream_.line(), std::move(reason)); }

    std::size_t columns_;
    std::vector<std::pair<int, int>> plan_;
    std::vector<Value> values_;
    LineStream stream_;
    LineSplitter splitter_;
    std::vector<Error> errors_;
};

}  // namespace quillon::opendata
