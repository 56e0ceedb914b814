#include "quillon/ocr.hpp"

#include <algorithm>
#include <utility>

#include "quillon/text.hpp"

namespace quillon::ocr {

const char* retry_note() {
    // The number of attempts is the policy's own, not a second copy of it.
    static const std::string note = "OCR retry %d/" + std::to_string(kMaxAttempts) + ": %s";
    return note.c_str();
}

std::u32string ReadText::take() {
    text::strip_in_place(text_);
    lines_ = 0;
    return std::exchange(text_, {});
}

ImagePlan plan_image(long long width, long long height) noexcept {
    long long shorter = std::min(width, height);
    long long longer = std::max(width, height);
    if (shorter < kMinDim) return {ImagePlan::Action::Refuse, width, height};
    if (longer <= kMaxDim) return {ImagePlan::Action::Send, width, height};
    // The same floating-point product as int(w * (16000 / max(w, h))): the
    // longer side lands on 16000 exactly, the other is truncated toward zero.
    double scale = static_cast<double>(kMaxDim) / static_cast<double>(longer);
    return {ImagePlan::Action::Shrink, static_cast<long long>(static_cast<double>(width) * scale),
            static_cast<long long>(static_cast<double>(height) * scale)};
}

const char* encoder_name(Encoder e) noexcept {
    switch (e) {
        case Encoder::Jpeg:
            return "JPEG";
        case Encoder::Bmp:
            return "BMP";
        case Encoder::Png:
            break;
    }
    return "PNG";
}

const char* fixed_mime(Mime m) noexcept {
    switch (m) {
        case Mime::Pdf:
            return "application/pdf";
        case Mime::Jpeg:
            return "image/jpeg";
        case Mime::ImageSlashFormat:
            break;
    }
    return "";
}

const char* source_name(Source s) noexcept {
    switch (s) {
        case Source::Ocr:
            return "ocr";
        case Source::VisionFallback:
            return "vision_fallback";
        case Source::OcrFailed:
            return "ocr_failed";
        case Source::Tesseract:
            return "tesseract";
        case Source::Text:
            break;
    }
    return "text";
}

const char* step_note(PageFlow::Step step) noexcept {
    switch (step) {
        case PageFlow::Step::ForcedVision:
            return "Página %d: usando Vision LLM (force)...";
        case PageFlow::Step::FallbackVision:
            return "Página %d: OCR falhou, tentando Vision LLM...";
        default:
            return nullptr;
    }
}

bool PageFlow::attempted() const noexcept {
    return options_.use_azure || (options_.mode != FallbackMode::Off && options_.has_llm_caller);
}

PageFlow::Step PageFlow::next() noexcept {
    Step step = Step::Done;
    switch (stage_) {
        case Stage::Start:
            if (options_.mode == FallbackMode::Force && options_.has_llm_caller) {
                stage_ = Stage::Finished;
                step = Step::ForcedVision;
                break;
            }
            stage_ = Stage::AfterOcr;
            if (options_.use_azure) {
                step = Step::Ocr;
                break;
            }
            [[fallthrough]];
        case Stage::AfterOcr:
            stage_ = Stage::Finished;
            if ((result_ == Recognised::Nothing || result_ == Recognised::Empty) &&
                options_.mode == FallbackMode::Auto && options_.has_llm_caller)
                step = Step::FallbackVision;
            break;
        case Stage::Finished:
            break;
    }
    pending_ = step;
    return step;
}

void PageFlow::record(Recognised result) noexcept {
    if (pending_ == Step::Done) return;  // nothing was asked for
    result_ = result;
    last_ = pending_;
    pending_ = Step::Done;
}

PageOutcome PageFlow::outcome() const noexcept {
    bool has_text = result_ == Recognised::Text;
    bool failed = attempted() && result_ == Recognised::Nothing;
    Source source = Source::Text;
    if (failed)
        source = Source::OcrFailed;
    else if (has_text)
        source = last_ == Step::Ocr ? Source::Ocr : Source::VisionFallback;
    return {source, failed, has_text, true};
}

ScannedOutcome after_tesseract(const ScannedPage& page, std::size_t reading_chars) noexcept {
    if (reading_chars >= kUnreadableChars) {
        // The reading carries the page; a residue this short is noise beside it.
        ScannedText text = page.residue_chars >= kUnreadableChars ? ScannedText::Joined : ScannedText::Reading;
        return {text, Source::Tesseract, false};
    }
    return {ScannedText::Residue, Source::OcrFailed, page.residue_chars < kUnreadableChars && page.has_images};
}

}  // namespace quillon::ocr
