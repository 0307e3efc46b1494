// SPDX-License-Identifier: Apache-2.0
// The glass library against catalogue values, and .agf catalogues in the
// encodings lens-design programs write.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "lumivex/glass.h"

using namespace lumivex;

namespace {

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const xmsg& e) {
        return e.message();
    }
    return "(no xmsg)";
}

std::string utf16le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

}  // namespace

TEST(Glass, BuiltinIndicesMatchTheVendorsNd) {
    const TGlassCatalog& glasses = TGlassCatalog::builtin();
    EXPECT_EQ(glasses.size(), 1634);
    // SCHOTT's catalogue nd of N-BK7 at the helium d line, 587.5618 nm.
    EXPECT_NEAR(glasses.index("N-BK7", 0.5875618, TLengthUnit::micrometre), 1.516800, 5e-7);
    EXPECT_NEAR(glasses.index("n-bk7", 587.5618, TLengthUnit::nanometre), 1.516800, 5e-7);
    EXPECT_NEAR(glasses.index("SCHOTT:N-BK7", 5.875618e-4, TLengthUnit::millimetre), 1.516800, 5e-7);
    EXPECT_NEAR(glasses.index("OHARA:S-LAH64", 0.78, TLengthUnit::micrometre), 1.776896, 5e-7);
}

TEST(Glass, UnknownNamesListTheCataloguesAndCloseNames) {
    const std::string m =
        messageOf([] { TGlassCatalog::builtin().index("N-BK8", 0.55, TLengthUnit::micrometre); });
    EXPECT_NE(m.find("unknown glass \"N-BK8\""), std::string::npos) << m;
    EXPECT_NE(m.find("SCHOTT, "), std::string::npos) << m;
    EXPECT_NE(m.find("N-BK7 (SCHOTT)"), std::string::npos) << m;
    // A catalogue qualifier limits the search.
    EXPECT_NE(messageOf([] { TGlassCatalog::builtin().find("HOYA:N-BK7"); }).find("unknown glass"),
              std::string::npos);
}

TEST(Glass, OutOfRangeWavelengthNamesGlassAndRangeInTheCallersUnit) {
    const std::string m =
        messageOf([] { TGlassCatalog::builtin().index("N-BK7", 3000.0, TLengthUnit::nanometre); });
    EXPECT_NE(m.find("SCHOTT N-BK7"), std::string::npos) << m;
    EXPECT_NE(m.find("3000 nm"), std::string::npos) << m;
    EXPECT_NE(m.find("300 to 2500 nm"), std::string::npos) << m;
}

TEST(Glass, AgfInUtf16WithCrlfOverridesTheBuiltinGlass) {
    // Sellmeier 1 with a single term K1 = 1.25 at L1 = 0: n² = 2.25 at every
    // wavelength. Formula 3 (Herzberger) is kept but refuses to give an index.
    std::istringstream agf(utf16le(
        "CC test catalogue\r\nNM N-BK7 2 517642 1.5 60 0 0\r\nCD 1.25 0 0 0 0 0 0 0 0 0\r\n"
        "LD 0.3 2.5\r\nNM ODD 3 0 1.6 40 0 0\r\nCD 1 2 3 4 5 6\r\nLD 0.4 0.8\r\n"));
    TGlassCatalog glasses = TGlassCatalog::builtin();
    glasses.loadAgf(agf, "mine");
    EXPECT_EQ(glasses.index("N-BK7", 0.5875618, TLengthUnit::micrometre), 1.5);
    EXPECT_EQ(glasses.find("n-bk7").catalogue, "mine");
    EXPECT_NEAR(glasses.index("SCHOTT:N-BK7", 0.5875618, TLengthUnit::micrometre), 1.5168, 5e-7);
    const std::string m = messageOf([&] { glasses.index("ODD", 0.5, TLengthUnit::micrometre); });
    EXPECT_NE(m.find("mine ODD"), std::string::npos) << m;
    EXPECT_NE(m.find("formula 3"), std::string::npos) << m;
}

TEST(Glass, AgfInLatin1WithTheSchottFormula) {
    // The Schott power series of the former BK7 (catalogue nd 1.51680), and a
    // name in ISO-8859-1 (0xC4 is Ä), which arrives as UTF-8.
    std::istringstream agf(
        "CC Gl\xE4ser\nNM BK7 1 517642 1.5168 64.17 0 0\n"
        "CD 2.2718929 -1.0108077E-2 1.0592509E-2 2.0816965E-4 -7.6472538E-6 4.9240991E-7\n"
        "LD 0.31 2.3\nNM GL\xC4S 2 0 1.5 60\nCD 1.25 0 0 0 0 0\n");
    TGlassCatalog glasses;
    glasses.loadAgf(agf, "OLD");
    EXPECT_NEAR(glasses.index("bk7", 0.5875618, TLengthUnit::micrometre), 1.51680, 2e-5);
    EXPECT_EQ(glasses.index("GL\xC3\x84S", 1.0, TLengthUnit::micrometre), 1.5);
}

TEST(Glass, AgfCataloguesThatWouldGiveWrongIndicesAreRefused) {
    const std::string bk7 =
        "NM BK7 1 517642 1.5168 64.17 0 0\n"
        "CD 2.2718929 -1.0108077E-2 1.0592509E-2 2.0816965E-4 -7.6472538E-6 4.9240991E-7\n"
        "LD 0.31 2.3\n";
    auto load = [](const std::string& text) {
        return messageOf([&] {
            std::istringstream is(text);
            TGlassCatalog glasses;
            glasses.loadAgf(is, "CAT");
        });
    };
    EXPECT_EQ(load(bk7), "(no xmsg)");
    const struct {
        std::string text;
        std::string said;
    } cases[] = {
        // Without its coefficients a glass had n = 1; with half of them the
        // rest were 0.
        {"NM BK7 1 517642 1.5168 64.17 0 0\n", "CAT:1: glass BK7 (formula 1) has 0 dispersion"},
        {"NM S 2 0 1.5 60\nCD 1.2 0.01 0.2\nLD 0.3 2\n", "CAT:1: glass S (formula 2) has 3"},
        {"NM S 2 0 1.5 60\nCD 1 0 0 0 0 0\nLD -5 5\n",
         "CAT:3: the wavelength range -5 to 5 um is not a range of positive wavelengths"},
        {"NM S 2.5 0 1.5 60\nCD 1 0 0 0 0 0\n",
         "CAT:1: expected the formula number (an integer), read \"2.5\""},
        {"NM S 2 0 1.5 60\nCD 1 0 inf 0 0 0\n", "CAT:2: expected a dispersion coefficient"},
        {"", "CAT: no glass (no NM line); not a glass catalogue"},
        {std::string("\x89PNG\r\n\x1a\x7f\x80\x81", 10), "CAT: no glass"},
        {utf16le(bk7).substr(2), "CAT: the encoding is not recognised"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(load(c.text).rfind(c.said, 0), 0u) << load(c.text);

    // No LD line: the formula holds for every positive wavelength, and a
    // wavelength of 0 or less is no wavelength.
    std::istringstream is("NM S 2 0 1.5 60\nCD 1.25 0 0 0 0 0\n");
    TGlassCatalog glasses;
    glasses.loadAgf(is, "CAT");
    EXPECT_EQ(glasses.index("S", 1.0, TLengthUnit::micrometre), 1.5);
    for (double wavelength : {0.0, -0.5})
        EXPECT_NE(messageOf([&] { glasses.index("S", wavelength, TLengthUnit::micrometre); })
                      .find("is not a positive number"),
                  std::string::npos);
}

TEST(Glass, AgfFileByPathIsFiledUnderItsName) {
    TGlassCatalog glasses;
    glasses.loadAgf(std::string(LUMIVEX_TEST_DATA_DIR) + "/catalogue.agf");
    EXPECT_EQ(glasses.size(), 3);
    EXPECT_EQ(glasses.find("n-bk7").catalogue, "CATALOGUE");
    EXPECT_NEAR(glasses.index("N-BK7", 0.5875618, TLengthUnit::micrometre), 1.5168, 2e-5);
    EXPECT_NEAR(glasses.index("BK7OLD", 0.5875618, TLengthUnit::micrometre), 1.5168, 2e-5);
    EXPECT_NE(messageOf([&] { glasses.loadAgf(std::string(LUMIVEX_TEST_DATA_DIR)); })
                  .find("is a directory"),
              std::string::npos);
}
