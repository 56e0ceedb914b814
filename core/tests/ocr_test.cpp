#include "quillon/ocr.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <string_view>
#include <vector>

using namespace quillon::ocr;

namespace {

Encoder enc(std::u32string_view s) { return encoder_for(s.data(), s.size()); }
Mime mime(std::u32string_view s) { return mime_for(s.data(), s.size()); }
FallbackMode mode(std::string_view s) { return parse_fallback_mode(s.data(), s.size()); }

using Step = PageFlow::Step;

struct FlowRun {
    std::vector<Step> steps;
    PageOutcome outcome;
};

// Runs the flow, answering each step with the next of `answers` (Nothing when
// they run out).
FlowRun run(LoadOptions o, std::vector<Recognised> answers) {
    PageFlow flow(o);
    FlowRun r;
    std::size_t i = 0;
    for (Step s = flow.next(); s != Step::Done; s = flow.next()) {
        r.steps.push_back(s);
        flow.record(i < answers.size() ? answers[i++] : Recognised::Nothing);
        if (r.steps.size() > 5) break;  // a flow never takes this many
    }
    r.outcome = flow.outcome();
    return r;
}

}  // namespace

TEST(Zoom, SeventyTwoDpiIsOnePixelPerPoint) {
    EXPECT_DOUBLE_EQ(zoom_for_dpi(72), 1.0);
    EXPECT_DOUBLE_EQ(zoom_for_dpi(150), 150.0 / 72.0);
    EXPECT_DOUBLE_EQ(zoom_for_dpi(kDefaultDpi), 2.0833333333333335);
}

TEST(TransientStatus, ThrottlingServerErrorsAndMissingStatus) {
    EXPECT_TRUE(is_transient_status(std::nullopt));
    for (long long s : {429LL, 500LL, 502LL, 503LL, 504LL, 599LL, 600LL, LLONG_MAX}) EXPECT_TRUE(is_transient_status(s)) << s;
    for (long long s : {0LL, 200LL, 400LL, 401LL, 403LL, 404LL, 408LL, 428LL, 430LL, 499LL, -1LL, LLONG_MIN})
        EXPECT_FALSE(is_transient_status(s)) << s;
}

TEST(ImagePlan, ShorterSideBelowTwoHundredIsRefused) {
    EXPECT_EQ(plan_image(150, 1000).action, ImagePlan::Action::Refuse);
    EXPECT_EQ(plan_image(1000, 199).action, ImagePlan::Action::Refuse);
    EXPECT_EQ(plan_image(0, 0).action, ImagePlan::Action::Refuse);
    EXPECT_EQ(plan_image(100, 20000).action, ImagePlan::Action::Refuse);  // refused before shrinking
    auto p = plan_image(200, 200);
    EXPECT_EQ(p.action, ImagePlan::Action::Send);
    EXPECT_EQ(p.width, 200);
    EXPECT_EQ(p.height, 200);
}

TEST(ImagePlan, LongerSideAboveSixteenThousandIsShrunkKeepingTheRatio) {
    auto p = plan_image(20000, 10000);
    EXPECT_EQ(p.action, ImagePlan::Action::Shrink);
    EXPECT_EQ(p.width, 16000);
    EXPECT_EQ(p.height, 8000);
    p = plan_image(16000, 16000);
    EXPECT_EQ(p.action, ImagePlan::Action::Send);
    p = plan_image(1000, 16001);
    EXPECT_EQ(p.action, ImagePlan::Action::Shrink);
    EXPECT_EQ(p.height, 16000);
    EXPECT_EQ(p.width, static_cast<long long>(1000 * (16000.0 / 16001.0)));  // 999, truncated
    EXPECT_EQ(p.width, 999);
    p = plan_image(30001, 201);
    EXPECT_EQ(p.width, 16000);
    EXPECT_EQ(p.height, 107);  // 201 * 0.5333... = 107.19..., truncated
}

TEST(Encoder, FormatTable) {
    EXPECT_EQ(enc(U"jpg"), Encoder::Jpeg);
    EXPECT_EQ(enc(U"jpeg"), Encoder::Jpeg);
    EXPECT_EQ(enc(U"png"), Encoder::Png);
    EXPECT_EQ(enc(U"bmp"), Encoder::Bmp);
    EXPECT_EQ(enc(U"tiff"), Encoder::Png);
    EXPECT_EQ(enc(U""), Encoder::Png);
    EXPECT_EQ(enc(U"JPG"), Encoder::Png);  // the caller lower-cases first
    EXPECT_EQ(enc(std::u32string_view(U"jpg\0", 4)), Encoder::Png);
    EXPECT_EQ(enc(U"\u0135pg"), Encoder::Png);  // not a "j" in another width
    EXPECT_STREQ(encoder_name(Encoder::Jpeg), "JPEG");
    EXPECT_STREQ(encoder_name(Encoder::Png), "PNG");
    EXPECT_STREQ(encoder_name(Encoder::Bmp), "BMP");
}

TEST(Mime, PdfAndJpgHaveTheirOwnTheRestIsImageSlashName) {
    EXPECT_EQ(mime(U"pdf"), Mime::Pdf);
    EXPECT_EQ(mime(U"jpg"), Mime::Jpeg);
    EXPECT_EQ(mime(U"jpeg"), Mime::ImageSlashFormat);  // image/jpeg all the same
    EXPECT_EQ(mime(U"png"), Mime::ImageSlashFormat);
    EXPECT_STREQ(fixed_mime(Mime::Pdf), "application/pdf");
    EXPECT_STREQ(fixed_mime(Mime::Jpeg), "image/jpeg");
}

TEST(Provider, OnlyTheExactNameIsGoogle) {
    std::u32string g = U"google", G = U"Google", gg = U"google ";
    EXPECT_TRUE(is_google_provider(g.data(), g.size()));
    EXPECT_FALSE(is_google_provider(G.data(), G.size()));
    EXPECT_FALSE(is_google_provider(gg.data(), gg.size()));
}

TEST(TextPage, MoreThanOneHundredCharacters) {
    EXPECT_FALSE(is_text_page(0));
    EXPECT_FALSE(is_text_page(100));
    EXPECT_TRUE(is_text_page(101));
}

TEST(FallbackMode, ThreeNamesAndTheRest) {
    EXPECT_EQ(mode("off"), FallbackMode::Off);
    EXPECT_EQ(mode("auto"), FallbackMode::Auto);
    EXPECT_EQ(mode("force"), FallbackMode::Force);
    EXPECT_EQ(mode("Force"), FallbackMode::Other);
    EXPECT_EQ(mode(""), FallbackMode::Other);
}

TEST(PageFlow, DefaultsSendEveryThinPageToOcrAndMarkFailures) {
    LoadOptions o{true, FallbackMode::Off, false};
    FlowRun ok = run(o, {Recognised::Text});
    EXPECT_EQ(ok.steps, std::vector<Step>{Step::Ocr});
    EXPECT_EQ(ok.outcome.source, Source::Ocr);
    EXPECT_FALSE(ok.outcome.ocr_failed);
    EXPECT_TRUE(ok.outcome.joins_text);

    FlowRun none = run(o, {Recognised::Nothing});
    EXPECT_EQ(none.outcome.source, Source::OcrFailed);
    EXPECT_TRUE(none.outcome.ocr_failed);
    EXPECT_FALSE(none.outcome.joins_text);
}

TEST(PageFlow, AutoFallsBackToTheModelWhenOcrGivesNothing) {
    LoadOptions o{true, FallbackMode::Auto, true};
    FlowRun r = run(o, {Recognised::Nothing, Recognised::Text});
    EXPECT_EQ(r.steps, (std::vector<Step>{Step::Ocr, Step::FallbackVision}));
    EXPECT_EQ(r.outcome.source, Source::VisionFallback);
    EXPECT_FALSE(r.outcome.ocr_failed);

    r = run(o, {Recognised::Empty, Recognised::Text});
    EXPECT_EQ(r.steps.size(), 2u);  // an empty text falls back too

    r = run(o, {Recognised::Text});
    EXPECT_EQ(r.steps, std::vector<Step>{Step::Ocr});
    EXPECT_EQ(r.outcome.source, Source::Ocr);

    r = run(o, {Recognised::Nothing, Recognised::Nothing});
    EXPECT_EQ(r.outcome.source, Source::OcrFailed);
    EXPECT_TRUE(r.outcome.ocr_failed);

    // A model answer that is empty text is no failure: nothing to join.
    r = run(o, {Recognised::Nothing, Recognised::Empty});
    EXPECT_EQ(r.outcome.source, Source::Text);
    EXPECT_FALSE(r.outcome.ocr_failed);
    EXPECT_FALSE(r.outcome.joins_text);
}

TEST(PageFlow, AutoWithoutAzureUsesTheModelAlone) {
    FlowRun r = run({false, FallbackMode::Auto, true}, {Recognised::Text});
    EXPECT_EQ(r.steps, std::vector<Step>{Step::FallbackVision});
    EXPECT_EQ(r.outcome.source, Source::VisionFallback);
}

TEST(PageFlow, ForceWithAModelNeverCallsOcr) {
    FlowRun r = run({true, FallbackMode::Force, true}, {Recognised::Text});
    EXPECT_EQ(r.steps, std::vector<Step>{Step::ForcedVision});
    EXPECT_EQ(r.outcome.source, Source::VisionFallback);
    r = run({true, FallbackMode::Force, true}, {Recognised::Nothing});
    EXPECT_EQ(r.steps, std::vector<Step>{Step::ForcedVision});
    EXPECT_EQ(r.outcome.source, Source::OcrFailed);
    EXPECT_TRUE(r.outcome.ocr_failed);
}

TEST(PageFlow, ForceWithoutAModelIsTheOcrRoute) {
    FlowRun r = run({true, FallbackMode::Force, false}, {Recognised::Nothing});
    EXPECT_EQ(r.steps, std::vector<Step>{Step::Ocr});
    EXPECT_EQ(r.outcome.source, Source::OcrFailed);
    r = run({false, FallbackMode::Force, false}, {});
    EXPECT_TRUE(r.steps.empty());
    EXPECT_EQ(r.outcome.source, Source::Text);
    EXPECT_FALSE(r.outcome.ocr_failed);
}

TEST(PageFlow, NothingAttemptedKeepsTheResidueAsText) {
    for (auto m : {FallbackMode::Off, FallbackMode::Auto, FallbackMode::Force, FallbackMode::Other}) {
        FlowRun r = run({false, m, false}, {});
        EXPECT_TRUE(r.steps.empty());
        EXPECT_EQ(r.outcome.source, Source::Text);
        EXPECT_FALSE(r.outcome.ocr_failed);
    }
    FlowRun r = run({false, FallbackMode::Off, true}, {});
    EXPECT_TRUE(r.steps.empty());
    EXPECT_FALSE(r.outcome.ocr_failed);
}

TEST(PageFlow, AnUnknownModeWithAModelCountsAsAnAttemptWithoutCallingIt) {
    PageFlow flow({false, FallbackMode::Other, true});
    EXPECT_TRUE(flow.attempted());
    EXPECT_EQ(flow.next(), Step::Done);
    EXPECT_EQ(flow.outcome().source, Source::OcrFailed);
    EXPECT_TRUE(flow.outcome().ocr_failed);
}

TEST(PageFlow, ATrueValueThatIsNotTextIsNeitherTextNorFailure) {
    FlowRun r = run({true, FallbackMode::Auto, true}, {Recognised::Other});
    EXPECT_EQ(r.steps, std::vector<Step>{Step::Ocr});  // not empty: no fallback
    EXPECT_EQ(r.outcome.source, Source::Text);
    EXPECT_FALSE(r.outcome.ocr_failed);
    EXPECT_FALSE(r.outcome.joins_text);
}

TEST(PageFlow, RecordWithoutAStepChangesNothing) {
    PageFlow flow({true, FallbackMode::Off, false});
    flow.record(Recognised::Text);
    EXPECT_EQ(flow.next(), Step::Ocr);
    flow.record(Recognised::Nothing);
    EXPECT_EQ(flow.next(), Step::Done);
    EXPECT_EQ(flow.next(), Step::Done);
    EXPECT_EQ(flow.outcome().source, Source::OcrFailed);
}

TEST(PageRecord, SourceNamesAndKeeping) {
    EXPECT_STREQ(source_name(Source::Text), "text");
    EXPECT_STREQ(source_name(Source::Ocr), "ocr");
    EXPECT_STREQ(source_name(Source::VisionFallback), "vision_fallback");
    EXPECT_STREQ(source_name(Source::OcrFailed), "ocr_failed");
    EXPECT_TRUE(keeps_page(false, false));
    EXPECT_TRUE(keeps_page(true, true));
    EXPECT_FALSE(keeps_page(true, false));
}
