// Decisions of the PDF OCR pipeline that need no interpreter.
//
// A PDF is read page by page.  A page whose own text layer (trimmed) holds
// more than 100 characters is taken as it is; every other page is recognised:
// by the Azure AI Vision OCR service, by a vision language model when the OCR
// gives nothing and the caller asked for a fallback ("auto"), or by the model
// alone when the caller forces it ("force").  A page that none of these read
// goes on to Tesseract where the host has it (the last step, at the end of
// this header): that is every route by which a page becomes text, and the
// one threshold below which a page holds nothing to read.  This header holds the numbers
// and the rules of that pipeline: resolutions, image limits, which service
// errors are worth a second attempt, which format and MIME type an image is
// sent as, which recognition step a page goes through next, and what its page
// record says afterwards.  The PDF library, the image library, the services
// and the page records themselves are the caller's business.
//
// Names and formats arrive as the code units of a Python string (8, 16 or 32
// bits per code point), compared in place.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillon::ocr {

// --- Page rendering ---------------------------------------------------------

// Every page sent to a recognition service is rendered at this resolution.
inline constexpr long long kDefaultDpi = 150;

// PDF user space has 72 points to the inch: the scale factor of both axes.
constexpr double zoom_for_dpi(long long dpi) noexcept { return static_cast<double>(dpi) / 72.0; }

// --- Azure OCR ----------------------------------------------------------------

// Connection and read time-out of every OCR request, in seconds.
inline constexpr int kTimeoutSeconds = 30;

// Retry policy of one OCR call: three attempts in all, each failed attempt n
// followed by a random wait in [0, min(16, 1 * 2^(n-1))] seconds.
inline constexpr int kMaxAttempts = 3;
inline constexpr int kBackoffMultiplier = 1;
inline constexpr int kBackoffMaxSeconds = 16;

// Whether a failed OCR request may succeed when repeated.  Throttling (429)
// and server errors (500 and up) may; a refused image (400), bad credentials
// (401, 403) or any other status will fail again.  An error without a status
// (network failure, time-out, SDK not installed) is repeated.
inline constexpr long long kThrottledStatus = 429;
inline constexpr long long kFirstServerErrorStatus = 500;

constexpr bool is_transient_status(std::optional<long long> status) noexcept {
    if (!status) return true;
    return *status == kThrottledStatus || *status >= kFirstServerErrorStatus;
}

// The warning logged before a repeated attempt: a %-format of the attempt
// number that failed and the name of its error's type.
const char* retry_note();

// The page text of a READ answer: its lines, block by block and line by line,
// one per line of text, with the white space at both ends of the whole
// trimmed (Python's str.strip()).
class ReadText {
public:
    template <class CharT>
    void add_line(const CharT* s, std::size_t n) {
        if (lines_++ > 0) text_.push_back(U'\n');
        text_.append(s, s + n);
    }

    // The text; empty when the answer holds nothing to read.
    std::u32string take();

private:
    std::u32string text_;
    std::size_t lines_ = 0;
};

// Image limits: a shorter side below kMinDim is refused before any request,
// a longer side above kMaxDim is shrunk to it.
inline constexpr long long kMinDim = 200;
inline constexpr long long kMaxDim = 16000;

struct ImagePlan {
    enum class Action { Refuse, Send, Shrink };
    Action action;
    long long width;   // size to send (the original one unless shrunk)
    long long height;
};

// What to do with an image of width x height pixels.  Shrinking keeps the
// aspect ratio: each side is scaled by kMaxDim / longer side and truncated.
ImagePlan plan_image(long long width, long long height) noexcept;

enum class Encoder { Jpeg, Png, Bmp };

// Encoder name of the image library ("JPEG", "PNG", "BMP").
const char* encoder_name(Encoder e) noexcept;

// Compares the code units s[0, n) with an ASCII literal.
template <class CharT>
constexpr bool equals_ascii(const CharT* s, std::size_t n, std::string_view lit) noexcept {
    if (n != lit.size()) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (static_cast<char32_t>(s[i]) != static_cast<unsigned char>(lit[i])) return false;
    return true;
}

// Encoder of a lower-cased format name: jpg and jpeg are JPEG, bmp is BMP,
// png and every name not known here are PNG.
template <class CharT>
constexpr Encoder encoder_for(const CharT* fmt, std::size_t n) noexcept {
    if (equals_ascii(fmt, n, "jpg") || equals_ascii(fmt, n, "jpeg")) return Encoder::Jpeg;
    if (equals_ascii(fmt, n, "bmp")) return Encoder::Bmp;
    return Encoder::Png;
}

// --- Vision fallback ----------------------------------------------------------

// The Google provider is chosen by its exact name; any other name (the
// default "openai", "azure", "Google") takes the chat-completions route.
template <class CharT>
constexpr bool is_google_provider(const CharT* provider, std::size_t n) noexcept {
    return equals_ascii(provider, n, "google");
}

// MIME type of a lower-cased format name: pdf and jpg have their own,
// anything else v is "image/" + v.
enum class Mime { Pdf, Jpeg, ImageSlashFormat };

template <class CharT>
constexpr Mime mime_for(const CharT* fmt, std::size_t n) noexcept {
    if (equals_ascii(fmt, n, "pdf")) return Mime::Pdf;
    if (equals_ascii(fmt, n, "jpg")) return Mime::Jpeg;
    return Mime::ImageSlashFormat;
}

// The MIME text of Mime::Pdf and Mime::Jpeg.
const char* fixed_mime(Mime m) noexcept;

// Where a page sent to a vision model goes.  The Google provider needs its
// client and model; the chat-completions providers take images only (a PDF
// would come back as an obscure API error) and need the caller's callable.
enum class VisionRoute { Google, GoogleUnconfigured, PdfRefused, NoCaller, Chat };

constexpr VisionRoute vision_route(bool google, bool google_configured, Mime mime, bool has_llm_caller) noexcept {
    if (google) return google_configured ? VisionRoute::Google : VisionRoute::GoogleUnconfigured;
    if (mime == Mime::Pdf) return VisionRoute::PdfRefused;
    return has_llm_caller ? VisionRoute::Chat : VisionRoute::NoCaller;
}

// --- Loading a PDF ------------------------------------------------------------

// A page whose trimmed text layer has more code points than this is a text
// page: taken as it is, never rendered nor sent anywhere.
inline constexpr std::size_t kTextPageChars = 100;

constexpr bool is_text_page(std::size_t trimmed_length) noexcept { return trimmed_length > kTextPageChars; }

// The caller's recognition mode ("off", "auto", "force"); any other text
// enables nothing of its own but still counts as "not off".
enum class FallbackMode { Off, Auto, Force, Other };

template <class CharT>
constexpr FallbackMode parse_fallback_mode(const CharT* s, std::size_t n) noexcept {
    if (equals_ascii(s, n, "off")) return FallbackMode::Off;
    if (equals_ascii(s, n, "auto")) return FallbackMode::Auto;
    if (equals_ascii(s, n, "force")) return FallbackMode::Force;
    return FallbackMode::Other;
}

struct LoadOptions {
    bool use_azure = true;
    FallbackMode mode = FallbackMode::Off;
    bool has_llm_caller = false;  // the vision routes need a model to call
};

// What a recognition step gave back.
enum class Recognised {
    Nothing,  // None: the step failed or was not configured
    Empty,    // a false value: an empty text
    Text,     // a non-empty text
    Other,    // a true value that is not text
};

// Where the text of a page record came from (its "source").
enum class Source { Text, Ocr, VisionFallback, OcrFailed, Tesseract };

const char* source_name(Source s) noexcept;

// Keys of a page record's metadata, in record order.
inline constexpr const char* kPageKey = "page";
inline constexpr const char* kSourceKey = "source";
inline constexpr const char* kOcrFailedKey = "ocr_failed";

struct PageOutcome {
    Source source;
    bool ocr_failed;
    bool joins_text;  // the record's text is residue + blank line + recognised text
    // The record's metadata says whether recognition failed (kOcrFailedKey):
    // every page that went through recognition says so, a text page does not.
    bool records_failure = true;
};

// A text page: taken as it is, nothing recognised.
inline constexpr PageOutcome kTextPageOutcome{Source::Text, false, false, false};

// The recognition of one thin page, step by step:
//
//     PageFlow flow(options);
//     for (Step s = flow.next(); s != Step::Done; s = flow.next())
//         flow.record(<run step s>);
//     PageOutcome o = flow.outcome();
//
// A page forced to the vision model ("force" with a model) never goes to the
// OCR service; otherwise it goes to OCR when Azure is enabled, then to the
// model when OCR gave nothing and the mode is "auto" with a model.
class PageFlow {
public:
    enum class Step { Ocr, ForcedVision, FallbackVision, Done };

    explicit PageFlow(const LoadOptions& options) noexcept : options_(options) {}

    Step next() noexcept;
    void record(Recognised result) noexcept;
    PageOutcome outcome() const noexcept;

    // Recognition is attempted at all: Azure is enabled, or a vision model is
    // given with a mode other than "off".  A page attempted without a result
    // is marked as failed.
    bool attempted() const noexcept;

private:
    enum class Stage { Start, AfterOcr, Finished };

    LoadOptions options_;
    Stage stage_ = Stage::Start;
    Step pending_ = Step::Done;  // the step next() asked for, until recorded
    Step last_ = Step::Done;     // the last step recorded (Done: none yet)
    Recognised result_ = Recognised::Nothing;
};

// The info line logged before a step: a %-format of the page number (1-based);
// nullptr for the OCR request, which is announced once per page beforehand.
const char* step_note(PageFlow::Step step) noexcept;

// A page record is kept when it has text or records a failed recognition.
constexpr bool keeps_page(bool text_is_empty, bool ocr_failed) noexcept { return !text_is_empty || ocr_failed; }

// --- The last step: Tesseract -------------------------------------------------

// A page left with fewer characters than this holds nothing to read: its
// residue is not worth keeping beside a reading, a reading this short is no
// reading, and a picture of a page left this short is an unreadable page.
inline constexpr std::size_t kUnreadableChars = 20;

// What the host knows of a page that no service read (a page record with
// Source::OcrFailed, or a thin page when no service is configured).
struct ScannedPage {
    std::size_t residue_chars;  // its trimmed text layer
    bool has_images;
    bool has_drawings;
};

// Whether such a page goes to Tesseract.  A page with almost no text layer
// does when anything is drawn on it (a blank page is not unread, it is
// blank); a page with some text layer only when a picture lies under it (a
// stamp or a page number over a scan).
constexpr bool reads_with_tesseract(const ScannedPage& page) noexcept {
    if (page.residue_chars < kUnreadableChars) return page.has_images || page.has_drawings;
    return page.has_images;
}

// The text a page record ends with: its residue, Tesseract's reading, or the
// residue, a blank line and the reading (trimmed).
enum class ScannedText { Residue, Reading, Joined };

struct ScannedOutcome {
    ScannedText text;
    Source source;    // Tesseract when the reading is kept, OcrFailed otherwise
    bool unreadable;  // a picture of a page with nothing read from it
};

// The page after Tesseract read `reading_chars` characters from it (0 when
// it was not read, or the reading failed).
ScannedOutcome after_tesseract(const ScannedPage& page, std::size_t reading_chars) noexcept;

}  // namespace quillon::ocr
