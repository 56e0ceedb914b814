#include "quillon/ocr.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace quillon::ocr;
using Step = PageFlow::Step;
using R = Recognised;

namespace {

template <class F>
auto on(std::u32string_view s, F f) {
    return f(s.data(), s.size());
}

struct Flow {
    std::vector<Step> steps;
    PageOutcome outcome;
};

// Runs the flow, answering its steps with `answers` in order.
Flow run(LoadOptions o, std::vector<Recognised> answers) {
    PageFlow flow(o);
    Flow r;
    for (Step s = flow.next(); s != Step::Done && r.steps.size() < 5; s = flow.next()) {
        r.steps.push_back(s);
        flow.record(r.steps.size() <= answers.size() ? answers[r.steps.size() - 1] : R::Nothing);
    }
    r.outcome = flow.outcome();
    return r;
}

}  // namespace

TEST(Ocr, ZoomAndTransientStatuses) {
    EXPECT_DOUBLE_EQ(zoom_for_dpi(72), 1.0);
    EXPECT_DOUBLE_EQ(zoom_for_dpi(kDefaultDpi), 150.0 / 72.0);
    EXPECT_TRUE(is_transient_status(std::nullopt));
    for (long long s : {429LL, 500LL, 503LL, 599LL, LLONG_MAX}) EXPECT_TRUE(is_transient_status(s)) << s;
    for (long long s : {200LL, 400LL, 401LL, 403LL, 404LL, 428LL, 499LL, LLONG_MIN})
        EXPECT_FALSE(is_transient_status(s)) << s;
}

TEST(Ocr, ImagePlan) {
    struct Case { long long w, h; ImagePlan::Action action; long long sw, sh; };
    for (Case c : std::vector<Case>{
             {150, 1000, ImagePlan::Action::Refuse, 150, 1000},
             {100, 20000, ImagePlan::Action::Refuse, 100, 20000},  // refused before shrinking
             {200, 200, ImagePlan::Action::Send, 200, 200},
             {16000, 16000, ImagePlan::Action::Send, 16000, 16000},
             {20000, 10000, ImagePlan::Action::Shrink, 16000, 8000},
             {1000, 16001, ImagePlan::Action::Shrink, 999, 16000},  // 999.93..., truncated
             {30001, 201, ImagePlan::Action::Shrink, 16000, 107}}) {
        ImagePlan p = plan_image(c.w, c.h);
        EXPECT_EQ(p.action, c.action) << c.w << "x" << c.h;
        EXPECT_EQ(p.width, c.sw);
        EXPECT_EQ(p.height, c.sh);
    }
}

TEST(Ocr, FormatNames) {
    auto enc = [](std::u32string_view s) { return on(s, [](auto d, auto n) { return encoder_for(d, n); }); };
    EXPECT_EQ(enc(U"jpg"), Encoder::Jpeg);
    EXPECT_EQ(enc(U"jpeg"), Encoder::Jpeg);
    EXPECT_EQ(enc(U"bmp"), Encoder::Bmp);
    for (auto s : {U"png", U"tiff", U"", U"JPG", U"\u0135pg"}) EXPECT_EQ(enc(s), Encoder::Png);
    EXPECT_EQ(enc(std::u32string_view(U"jpg\0", 4)), Encoder::Png);
    EXPECT_STREQ(encoder_name(Encoder::Jpeg), "JPEG");
    EXPECT_STREQ(encoder_name(Encoder::Bmp), "BMP");
    EXPECT_STREQ(encoder_name(Encoder::Png), "PNG");

    auto mime = [](std::u32string_view s) { return on(s, [](auto d, auto n) { return mime_for(d, n); }); };
    EXPECT_EQ(mime(U"pdf"), Mime::Pdf);
    EXPECT_EQ(mime(U"jpg"), Mime::Jpeg);
    EXPECT_EQ(mime(U"jpeg"), Mime::ImageSlashFormat);
    EXPECT_STREQ(fixed_mime(Mime::Pdf), "application/pdf");
    EXPECT_STREQ(fixed_mime(Mime::Jpeg), "image/jpeg");

    auto google = [](std::u32string_view s) { return on(s, [](auto d, auto n) { return is_google_provider(d, n); }); };
    EXPECT_TRUE(google(U"google"));
    EXPECT_FALSE(google(U"Google"));
    EXPECT_FALSE(google(U"google "));

    auto mode = [](std::u32string_view s) { return on(s, [](auto d, auto n) { return parse_fallback_mode(d, n); }); };
    EXPECT_EQ(mode(U"off"), FallbackMode::Off);
    EXPECT_EQ(mode(U"auto"), FallbackMode::Auto);
    EXPECT_EQ(mode(U"force"), FallbackMode::Force);
    EXPECT_EQ(mode(U"Force"), FallbackMode::Other);
}

TEST(Ocr, VisionRoutes) {
    using V = VisionRoute;
    // Google: its client and model decide, whatever the format and the callable.
    EXPECT_EQ(vision_route(true, true, Mime::Pdf, false), V::Google);
    EXPECT_EQ(vision_route(true, false, Mime::Jpeg, true), V::GoogleUnconfigured);
    // The others: no PDF, and nothing to call without a callable.
    EXPECT_EQ(vision_route(false, true, Mime::Pdf, true), V::PdfRefused);
    EXPECT_EQ(vision_route(false, false, Mime::ImageSlashFormat, false), V::NoCaller);
    EXPECT_EQ(vision_route(false, false, Mime::Jpeg, true), V::Chat);
}

TEST(Ocr, TextPagesAndRecords) {
    EXPECT_FALSE(is_text_page(100));
    EXPECT_TRUE(is_text_page(101));
    EXPECT_STREQ(source_name(Source::Text), "text");
    EXPECT_STREQ(source_name(Source::Ocr), "ocr");
    EXPECT_STREQ(source_name(Source::VisionFallback), "vision_fallback");
    EXPECT_STREQ(source_name(Source::OcrFailed), "ocr_failed");
    EXPECT_TRUE(keeps_page(false, false));
    EXPECT_TRUE(keeps_page(true, true));
    EXPECT_FALSE(keeps_page(true, false));
    // A text page's record says nothing of recognition.
    EXPECT_EQ(kTextPageOutcome.source, Source::Text);
    EXPECT_FALSE(kTextPageOutcome.records_failure);
    EXPECT_FALSE(kTextPageOutcome.ocr_failed);
}

// Every route of a thin page: options, answers -> steps taken, source, failed, joined.
TEST(Ocr, PageFlowRoutes) {
    using M = FallbackMode;
    using S = Source;
    const Step O = Step::Ocr, V = Step::FallbackVision;
    struct Case { LoadOptions o; std::vector<R> answers; std::vector<Step> steps; S source; bool failed; bool joins; };
    const std::vector<Case> cases{
        {{true, M::Off, false}, {R::Text}, {Step::Ocr}, S::Ocr, false, true},
        {{true, M::Off, false}, {R::Nothing}, {Step::Ocr}, S::OcrFailed, true, false},
        {{true, M::Auto, true}, {R::Text}, {Step::Ocr}, S::Ocr, false, true},
        {{true, M::Auto, true}, {R::Nothing, R::Text}, {O, V}, S::VisionFallback, false, true},
        {{true, M::Auto, true}, {R::Empty, R::Text}, {O, V}, S::VisionFallback, false, true},
        {{true, M::Auto, true}, {R::Nothing, R::Nothing}, {O, V}, S::OcrFailed, true, false},
        {{true, M::Auto, true}, {R::Nothing, R::Empty}, {O, V}, S::Text, false, false},
        {{true, M::Auto, true}, {R::Other}, {Step::Ocr}, S::Text, false, false},  // true but not text: no fallback
        {{false, M::Auto, true}, {R::Text}, {Step::FallbackVision}, S::VisionFallback, false, true},
        {{true, M::Force, true}, {R::Text}, {Step::ForcedVision}, S::VisionFallback, false, true},
        {{true, M::Force, true}, {R::Nothing}, {Step::ForcedVision}, S::OcrFailed, true, false},
        {{true, M::Force, false}, {R::Nothing}, {Step::Ocr}, S::OcrFailed, true, false},
        {{false, M::Force, false}, {}, {}, S::Text, false, false},
        {{false, M::Off, true}, {}, {}, S::Text, false, false},
        {{false, M::Other, true}, {}, {}, S::OcrFailed, true, false},  // "not off" with a model: attempted
        {{false, M::Auto, false}, {}, {}, S::Text, false, false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        Flow r = run(c.o, c.answers);
        EXPECT_EQ(r.steps, c.steps) << "case " << i;
        EXPECT_EQ(r.outcome.source, c.source) << "case " << i;
        EXPECT_EQ(r.outcome.ocr_failed, c.failed) << "case " << i;
        EXPECT_EQ(r.outcome.joins_text, c.joins) << "case " << i;
        EXPECT_TRUE(r.outcome.records_failure) << "case " << i;
    }
}

// The vision steps say why the model reads the page; the OCR request is announced per page.
TEST(Ocr, StepNotes) {
    EXPECT_STREQ(step_note(Step::ForcedVision), "Página %d: usando Vision LLM (force)...");
    EXPECT_STREQ(step_note(Step::FallbackVision), "Página %d: OCR falhou, tentando Vision LLM...");
    EXPECT_EQ(step_note(Step::Ocr), nullptr);
    EXPECT_EQ(step_note(Step::Done), nullptr);
}

TEST(Ocr, RecordWithoutAStepChangesNothing) {
    PageFlow flow({true, FallbackMode::Off, false});
    flow.record(R::Text);
    EXPECT_EQ(flow.next(), Step::Ocr);
    flow.record(R::Nothing);
    EXPECT_EQ(flow.next(), Step::Done);
    EXPECT_EQ(flow.next(), Step::Done);
    EXPECT_EQ(flow.outcome().source, Source::OcrFailed);
}

TEST(Ocr, TesseractReadsPagesWithSomethingToRead) {
    constexpr std::size_t below = kUnreadableChars - 1, at = kUnreadableChars;
    // Almost no text layer: anything drawn may be text; a blank page is not read.
    EXPECT_TRUE(reads_with_tesseract({0, true, false}));
    EXPECT_TRUE(reads_with_tesseract({below, false, true}));
    EXPECT_FALSE(reads_with_tesseract({0, false, false}));
    // Some text layer: only over a picture of the page.
    EXPECT_TRUE(reads_with_tesseract({at, true, false}));
    EXPECT_FALSE(reads_with_tesseract({at, false, true}));
    EXPECT_STREQ(source_name(Source::Tesseract), "tesseract");
}

TEST(Ocr, AfterTesseract) {
    constexpr std::size_t below = kUnreadableChars - 1, at = kUnreadableChars;
    struct Case {
        ScannedPage page;
        std::size_t reading;
        ScannedText text;
        Source source;
        bool unreadable;
    };
    const Case cases[] = {
        {{0, true, false}, at, ScannedText::Reading, Source::Tesseract, false},
        {{below, true, false}, 500, ScannedText::Reading, Source::Tesseract, false},  // a stray mark dropped
        {{at, true, false}, at, ScannedText::Joined, Source::Tesseract, false},
        {{0, true, false}, below, ScannedText::Residue, Source::OcrFailed, true},  // a short reading is none
        {{0, true, false}, 0, ScannedText::Residue, Source::OcrFailed, true},
        {{below, false, true}, 0, ScannedText::Residue, Source::OcrFailed, false},  // drawings, no picture
        {{at, true, false}, 0, ScannedText::Residue, Source::OcrFailed, false},     // its text layer is kept
    };
    for (const Case& c : cases) {
        ScannedOutcome o = after_tesseract(c.page, c.reading);
        EXPECT_EQ(o.text, c.text) << c.page.residue_chars << " " << c.reading;
        EXPECT_EQ(o.source, c.source) << c.page.residue_chars << " " << c.reading;
        EXPECT_EQ(o.unreadable, c.unreadable) << c.page.residue_chars << " " << c.reading;
    }
}

TEST(Ocr, RetryNoteCountsThePolicysAttempts) {
    EXPECT_STREQ(retry_note(), "OCR retry %d/3: %s");
    EXPECT_EQ(kMaxAttempts, 3);
}

TEST(Ocr, ReadTextJoinsLinesAndTrimsTheWhole) {
    auto read = [](std::vector<std::u32string> lines) {
        ReadText t;
        for (const auto& l : lines) t.add_line(l.data(), l.size());
        return t.take();
    };
    EXPECT_EQ(read({}), U"");
    EXPECT_EQ(read({U"  ", U"\t", U""}), U"");
    EXPECT_EQ(read({U"  CONTRATO ", U"", U"Cl\u00e1usula 1 "}), U"CONTRATO \n\nCl\u00e1usula 1");
    // Python's white space, beyond ASCII; a NUL is text.
    EXPECT_EQ(read({U"\u3000a\u0085", U"\u2028"}), U"a");
    EXPECT_EQ(read({std::u32string(U"\0b", 2)}), std::u32string(U"\0b", 2));
    // Code units of any width, and a reader used again starts afresh.
    ReadText t;
    const unsigned char latin1[] = {0xE7, 0x20};
    const char16_t wide[] = {u'\u20AC'};
    t.add_line(latin1, 2);
    t.add_line(wide, 1);
    EXPECT_EQ(t.take(), U"\u00e7 \n\u20ac");
    t.add_line(wide, 1);
    EXPECT_EQ(t.take(), U"\u20ac");
}
