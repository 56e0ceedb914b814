#include "quillon/qsa.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace quillon;

namespace {

names::Prepared name(const std::u32string& s) { return names::Prepared::from(s.data(), s.size()); }

}  // namespace

TEST(PartnerList, FirstPartnerByNameOrRepresentative) {
    qsa::PartnerList list;
    list.add(name(U"HOLDING ALFA PARTICIPACOES"), name(U"José da Conceição"));
    list.add(name(U"MARIA DA SILVA SANTOS"));
    list.add(name(U"Maria Santos"));

    auto hit = list.find(name(U"maria silva santos"));
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->partner, 1u);
    EXPECT_FALSE(hit->representative);

    hit = list.find(name(U"JOSE DA CONCEICAO"));
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->partner, 0u);
    EXPECT_TRUE(hit->representative);

    EXPECT_FALSE(list.find(name(U"Pedro Alves")));
    EXPECT_FALSE(list.find(name(U"   ")));  // an empty name matches nobody
    EXPECT_FALSE(qsa::PartnerList().find(name(U"Ana")));
}

TEST(PartnerList, AgreesWithTheNameRuleForEveryPartner) {
    const std::u32string partners[] = {U"Ana", U"ANABELA COSTA", U"", U"Costa Lima Ana", U"Σίσυφος Σ"};
    const std::u32string signatories[] = {U"ana", U"costa lima", U"bela", U"σίσυφοσ σ", U"x"};
    for (const auto& s : signatories) {
        qsa::PartnerList list;
        std::size_t expected = sizeof partners / sizeof partners[0];
        for (std::size_t i = 0; i < sizeof partners / sizeof partners[0]; ++i) {
            list.add(name(partners[i]));
            if (expected == sizeof partners / sizeof partners[0] && names::match(s, partners[i])) expected = i;
        }
        auto hit = list.find(name(s));
        EXPECT_EQ(hit ? hit->partner : sizeof partners / sizeof partners[0], expected);
    }
}

namespace {

// The records' indices kept, as scan_records hands them over.
std::vector<int> kept(const std::vector<int>& ranks, const std::vector<int>& ids, bool once, int decisive,
                      std::vector<int>* searched = nullptr) {
    std::vector<int> order(ranks.size()), out;
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    qsa::scan_records(
        order, [&](int i) -> const void* { return once ? &ids[ids[i]] : nullptr; },  // one address per id
        [&](int i) {
            if (searched) searched->push_back(i);
            return std::pair{ranks[i], i};
        },
        [&](int, int finding) { out.push_back(finding); }, decisive);
    return out;
}

}  // namespace

TEST(ScanRecords, FirstOfTheHighestRankUntilADecisiveOne) {
    // ranks: nothing, a partial answer, another partial, a decisive one, a decisive one after it
    EXPECT_EQ(kept({0, 1, 1, 2, 2}, {0, 1, 2, 3, 4}, true, 2), (std::vector<int>{1, 3}));
    EXPECT_EQ(kept({0, 1, 1}, {0, 1, 2}, true, 2), (std::vector<int>{1}));
    EXPECT_EQ(kept({0, 0}, {0, 1}, true, 1), (std::vector<int>{}));
    EXPECT_EQ(kept({0, 1, 1}, {0, 1, 2}, true, 1), (std::vector<int>{1}));
}

TEST(ScanRecords, ARecordSeenTwiceIsSearchedOnceUnlessKeyless) {
    std::vector<int> searched;
    // records 0 and 2 are the same record (id 0), as are 1 and 3 (id 1)
    kept({0, 0, 0, 0, 0}, {0, 1, 0, 1, 4}, true, 1, &searched);
    EXPECT_EQ(searched, (std::vector<int>{0, 1, 4}));
    searched.clear();
    kept({0, 0, 0, 0, 0}, {0, 1, 0, 1, 4}, false, 1, &searched);
    EXPECT_EQ(searched, (std::vector<int>{0, 1, 2, 3, 4}));
}
