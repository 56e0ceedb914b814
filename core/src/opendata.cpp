#include "quillon/opendata.hpp"

namespace quillon::opendata {

const char* line_error_reason(LineError e) noexcept {
    switch (e) {
        case LineError::kUnterminatedQuote:
            return "aspas não fechadas";
        case LineError::kTextAfterQuote:
            return "texto depois de aspas de fechamento";
        case LineError::kNone:
            break;
    }
    return "";
}

void LineStream::carry(const char* data, std::size_t n) {
    if (skipping_) {
        skipped_ += n;
        return;
    }
    // One byte of room for a "\r" that may turn out to be the terminator's.
    if (pending_.size() + n > kMaxLine + 1) {
        skipping_ = true;
        skipped_ = pending_.size() + n;
        pending_.clear();
        pending_.shrink_to_fit();
        return;
    }
    pending_.append(data, n);
}

LineError LineSplitter::split(const char* line, std::size_t n) {
    fields_.clear();
    scratch_.clear();
    // Undone quotes only ever shorten a field: with this much room the
    // scratch buffer never moves, and fields pointing into it stay valid.
    if (scratch_.capacity() < n) scratch_.reserve(n);
    std::size_t i = 0;
    for (;;) {
        if (i < n && line[i] == '"') {
            std::size_t start = ++i;
            // Text is copied to the scratch buffer only once a doubled quote
            // turns up; until then the field is a slice of the line.
            bool unescaped = false;
            std::size_t scratch_start = scratch_.size();
            for (;;) {
                const void* hit = i < n ? __builtin_memchr(line + i, '"', n - i) : nullptr;
                if (!hit) return LineError::kUnterminatedQuote;
                std::size_t q = static_cast<std::size_t>(static_cast<const char*>(hit) - line);
                if (q + 1 < n && line[q + 1] == '"') {
                    // A doubled quote: one quote of text.
                    unescaped = true;
                    scratch_.append(line + i, q - i + 1);
                    i = q + 2;
                    continue;
                }
                if (unescaped) {
                    scratch_.append(line + i, q - i);
                    fields_.push_back({scratch_.data() + scratch_start, scratch_.size() - scratch_start});
                } else {
                    fields_.push_back({line + start, q - start});
                }
                i = q + 1;
                break;
            }
            if (i == n) return LineError::kNone;
            if (line[i] != ';') return LineError::kTextAfterQuote;
            ++i;
            continue;
        }
        const void* hit = i < n ? __builtin_memchr(line + i, ';', n - i) : nullptr;
        std::size_t end = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - line) : n;
        fields_.push_back({line + i, end - i});
        if (!hit) return LineError::kNone;
        i = end + 1;
    }
}

namespace {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

int two_digits(const char* s) noexcept { return (s[0] - '0') * 10 + (s[1] - '0'); }

}  // namespace

bool iso_date(const char* s, std::size_t n, char* out) noexcept {
    if (n != 8) return false;
    for (std::size_t i = 0; i < 8; ++i)
        if (!is_digit(s[i])) return false;
    int year = two_digits(s) * 100 + two_digits(s + 2);
    int month = two_digits(s + 4);
    int day = two_digits(s + 6);
    if (year == 0 || month < 1 || month > 12 || day < 1) return false;
    static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (day > kDays[month - 1]) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return false;
    const char iso[10] = {s[0], s[1], s[2], s[3], '-', s[4], s[5], '-', s[6], s[7]};
    for (int i = 0; i < 10; ++i) out[i] = iso[i];
    return true;
}

bool parse_code(const char* s, std::size_t n, long long& value) noexcept {
    if (n == 0 || n > 18) return false;
    long long v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!is_digit(s[i])) return false;
        v = v * 10 + (s[i] - '0');
    }
    value = v;
    return true;
}

bool plan_fits(const std::vector<std::pair<int, int>>& plan, std::size_t columns) noexcept {
    for (auto [op, column] : plan)
        if (!plan_step_fits(op, column, columns)) return false;
    return true;
}

void RowReader::overlong() { note("linha longa demais (mais de 1 MiB)"); }

bool RowReader::read(const char* line, std::size_t len) {
    if (len == 0) return false;  // a blank line carries nothing
    if (__builtin_memchr(line, '\0', len)) {
        // No text column of a database holds one, and no published line has one.
        note("byte nulo na linha");
        return false;
    }
    LineError error = splitter_.split(line, len);
    if (error != LineError::kNone) {
        note(line_error_reason(error));
        return false;
    }
    std::size_t found = splitter_.fields().size();
    if (found != columns_) {
        note("esperados " + std::to_string(columns_) + " campos, encontrados " + std::to_string(found));
        return false;
    }
    for (std::size_t i = 0; i < plan_.size(); ++i)
        if (!convert(plan_[i], values_[i])) return false;
    return true;
}

// False, with the line noted, when the field does not read.
bool RowReader::convert(std::pair<int, int> step, Value& value) {
    auto [op, column] = step;
    const auto& fields = splitter_.fields();
    const std::size_t at = static_cast<std::size_t>(column);
    const Field& f = fields[at];
    value.kind = Value::Kind::kLatin1;
    switch (op) {
        case kText:
            value.latin1 = {f.data, f.size};
            return true;
        case kDate:
            value.made.resize(10);
            if (!iso_date(f.data, f.size, &value.made[0])) value.kind = Value::Kind::kNone;
            value.latin1 = value.made;
            return true;
        case kCode:
            value.kind = f.size == 0 ? Value::Kind::kNone : Value::Kind::kCode;
            if (f.size == 0 || parse_code(f.data, f.size, value.code)) return true;
            note("campo " + std::to_string(column + 1) + ": código não numérico");
            return false;
        case kKey:
            value.kind = Value::Kind::kKey;
            value.key.clear();
            name_key_append(reinterpret_cast<const unsigned char*>(f.data), f.size, value.key);
            return true;
        default:  // kCnpj: base, order and check digits, three fields in a row
            value.made.clear();
            for (std::size_t k = 0; k < 3; ++k) value.made.append(fields[at + k].data, fields[at + k].size);
            value.latin1 = value.made;
            return true;
    }
}

}  // namespace quillon::opendata
