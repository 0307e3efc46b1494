// SPDX-License-Identifier: Apache-2.0
// The text description of an optical system: the reader's keywords, its rules
// for short records and failed streams, writer→reader round trips and files.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <typeinfo>

#include "lumivex/description.h"
#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"

using namespace lumivex;

namespace {

// Reads the text into a system whose default radius is 7.
struct Read {
    explicit Read(const std::string& text) : is(text), system(7.0) { system >> is; }
    std::istringstream is;
    TOpticalSystem system;
};

std::string written(const TOpticalSystem& system) {
    std::ostringstream os;
    os << system;
    return os.str();
}

}  // namespace

TEST(DescriptionReader, NothingToReadAddsNothingAndKeepsTheRadius) {
    for (const char* text : {"", "   \n\t\n", "OpticalSystem", "OpticalSystem five Slab 1 1.5"}) {
        Read r(text);
        EXPECT_EQ(r.system.getSize(), 0) << text;
        EXPECT_EQ(r.system.defaultRadius, 7.0) << text;
        EXPECT_TRUE(r.is.fail()) << text;
    }
}

TEST(DescriptionReader, OneLineOfPiecesGivesOneSlab) {
    Read r("OpticalSystem 5 Slab 10 1.5");
    EXPECT_EQ(r.system.defaultRadius, 5.0);
    ASSERT_EQ(r.system.getSize(), 1);
    const auto* slab = dynamic_cast<const TSlab*>(r.system[0]);
    ASSERT_NE(slab, nullptr);
    EXPECT_EQ(slab->zPosition, 10.0);
    EXPECT_EQ(slab->refIndex, complex(1.5, 0));
    EXPECT_EQ(slab->radius, 5.0);
    EXPECT_EQ(slab->optRadius, 0.0);
}

TEST(DescriptionReader, ReadsTheThreeRecordsWithAnyHeaderWord) {
    Read r("Foo 2.5\nSlab\t1\t1\nLens\t5\t1.5\t1\t20\t0.25\nGrinRod\t30\t1.6\t0.2\t1e-3\t-2e-4\n");
    EXPECT_EQ(r.system.defaultRadius, 2.5);
    ASSERT_EQ(r.system.getSize(), 3);

    const auto* lens = dynamic_cast<const TLens*>(r.system[1]);
    ASSERT_NE(lens, nullptr);
    EXPECT_EQ(lens->zPosition, 5.0);
    EXPECT_EQ(lens->refIndex, complex(1.5, 0));
    EXPECT_EQ(lens->secondIndex, 1.0);
    EXPECT_EQ(lens->vertexLength, 20.0);
    EXPECT_EQ(lens->heightModulus, 0.25);
    // The shape follows from the record: a conic of eccentricity n/n2.
    EXPECT_EQ(lens->curvatureRadius, -10.0);
    EXPECT_EQ(lens->conicConstant, -2.25);

    const auto* rod = dynamic_cast<const TGrinRod*>(r.system[2]);
    ASSERT_NE(rod, nullptr);
    EXPECT_EQ(rod->zPosition, 30.0);
    EXPECT_EQ(rod->n0, 1.6);
    EXPECT_EQ(rod->g, 0.2);
    EXPECT_EQ(rod->h4, 1e-3);
    EXPECT_EQ(rod->h6, -2e-4);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.system[i]->radius, 2.5);
}

TEST(DescriptionReader, KeywordsAreExactAndOtherWordsAreSkipped) {
    Read r(
        "OpticalSystem 3 slab 1 1.5 SLAB 2 1.5 Slab2 3 1.5 Lens: GrinRods (1.5,0) "
        "Slab 4 1.25");
    ASSERT_EQ(r.system.getSize(), 1);
    EXPECT_EQ(r.system[0]->zPosition, 4.0);
    EXPECT_EQ(r.system[0]->getRefIndex(TVector(), 0.0), complex(1.25, 0));
}

TEST(DescriptionReader, ComplexIndexKeptBySlabDroppedByLens) {
    Read r("OpticalSystem 1 Slab 0 (1.5,0.01) Lens 1 (1.5,0.01) 1 10 0 Slab 2 (1.25)");
    ASSERT_EQ(r.system.getSize(), 3);
    EXPECT_EQ(dynamic_cast<const TSlab*>(r.system[0])->refIndex, complex(1.5, 0.01));
    EXPECT_EQ(dynamic_cast<const TLens*>(r.system[1])->refIndex, complex(1.5, 0));
    EXPECT_EQ(dynamic_cast<const TSlab*>(r.system[2])->refIndex, complex(1.25, 0));
    EXPECT_FALSE(r.is.bad());
}

TEST(DescriptionReader, CutShortRecordIsAddedWithWhatWasReadThenReadingStops) {
    {
        Read r("OpticalSystem 4 Slab 1 1.5 GrinRod 5 1.6 oops 0 0 Slab 9 1.5");
        ASSERT_EQ(r.system.getSize(), 2);
        const auto* rod = dynamic_cast<const TGrinRod*>(r.system[1]);
        ASSERT_NE(rod, nullptr);
        EXPECT_EQ(rod->zPosition, 5.0);
        EXPECT_EQ(rod->n0, 1.6);
        EXPECT_EQ(rod->g, 0.0);
        EXPECT_EQ(rod->h4, 0.0);
        EXPECT_EQ(rod->h6, 0.0);
        EXPECT_EQ(rod->radius, 4.0);
        EXPECT_TRUE(r.is.fail());
    }
    {
        // The text ends inside the record.
        Read r("OpticalSystem 4 Lens 20 1.5");
        ASSERT_EQ(r.system.getSize(), 1);
        const auto* lens = dynamic_cast<const TLens*>(r.system[0]);
        ASSERT_NE(lens, nullptr);
        EXPECT_EQ(lens->zPosition, 20.0);
        EXPECT_EQ(lens->refIndex, complex(1.5, 0));
        EXPECT_EQ(lens->secondIndex, 0.0);
        EXPECT_EQ(lens->vertexLength, 0.0);
        EXPECT_EQ(lens->heightModulus, 0.0);
    }
    {
        // A malformed first number: the slab is added with nothing read.
        Read r("OpticalSystem 4 Slab x1 1.5 Slab 2 1.5");
        ASSERT_EQ(r.system.getSize(), 1);
        EXPECT_EQ(r.system[0]->zPosition, 0.0);
        EXPECT_EQ(dynamic_cast<const TSlab*>(r.system[0])->refIndex, complex(0, 0));
    }
    {
        // A malformed complex index.
        Read r("OpticalSystem 4 Slab 3 (1.5;0) Slab 2 1.5");
        ASSERT_EQ(r.system.getSize(), 1);
        EXPECT_EQ(r.system[0]->zPosition, 3.0);
    }
}

TEST(DescriptionReader, FailedStreamReadsNothing) {
    std::istringstream is("OpticalSystem 5 Slab 10 1.5");
    is.setstate(std::ios::failbit);
    TOpticalSystem system(7.0);
    system >> is;
    EXPECT_EQ(system.getSize(), 0);
    EXPECT_EQ(system.defaultRadius, 7.0);
}

TEST(DescriptionReader, AppendsAfterElementsThatKeepTheirRadii) {
    TOpticalSystem system(7.0);
    system.addElement(new TSlab(0, 1.0));
    std::istringstream is("OpticalSystem 3 Slab 1 1.5");
    std::istream& returned = (is >> system);
    EXPECT_EQ(&returned, &is);
    ASSERT_EQ(system.getSize(), 2);
    EXPECT_EQ(system[0]->radius, 7.0);
    EXPECT_EQ(system[1]->radius, 3.0);
    EXPECT_EQ(system[1]->zPosition, 1.0);
}

TEST(DescriptionWriter, WritesHeaderRadiusAndOneLinePerElement) {
    TOpticalSystem empty(5.0);
    EXPECT_EQ(written(empty), "OpticalSystem\n5\n");

    TOpticalSystem system(5.0);
    system.addElement(new TSlab(10, complex(1.5, 0.01)));
    system.addElement(new TGrinRod(30, 1.6, 0.2, 0, 0));
    EXPECT_EQ(written(system), "OpticalSystem\n5\nSlab\t10\t1.5\nGrinRod\t30\t1.6\t0.2\t0\t0\n");
}

TEST(DescriptionRoundTrip, WrittenSystemReadsBackToTheSameElements) {
    TOpticalSystem system(4.0);
    system.addElement(new TSlab(0, 1.0));
    system.addElement(new TLens(5, 1.5, 0.25, 1.0, 20));
    system.addElement(new TPolynomialSurface(7, 1.0, 0));  // has no record: an empty line
    system.addElement(new TSlab(9, 1.0));
    system.addElement(new TGrinRod(30, 1.6, 0.2, 1e-3, -2e-4));
    const std::string text = written(system);
    EXPECT_NE(text.find("\t20\t0.25\n\nSlab\t9\t1\n"), std::string::npos) << text;

    Read back(text);
    ASSERT_EQ(back.system.getSize(), 4);
    EXPECT_EQ(back.system.defaultRadius, 4.0);
    EXPECT_NE(dynamic_cast<const TSlab*>(back.system[0]), nullptr);
    EXPECT_NE(dynamic_cast<const TLens*>(back.system[1]), nullptr);
    EXPECT_NE(dynamic_cast<const TSlab*>(back.system[2]), nullptr);
    EXPECT_NE(dynamic_cast<const TGrinRod*>(back.system[3]), nullptr);
    // Everything but the record-less surface comes back as written.
    std::string expected = text;
    expected.erase(expected.find("\n\n"), 1);
    EXPECT_EQ(written(back.system), expected);
}

TEST(DescriptionRoundTrip, KeepsSixSignificantDigitsUnlessThePrecisionIsRaised) {
    TOpticalSystem system(1.0);
    system.addElement(new TGrinRod(1.23456789, 1.6, 0.2, 0, 0));
    Read back(written(system));
    ASSERT_EQ(back.system.getSize(), 1);
    EXPECT_EQ(back.system[0]->zPosition, 1.23457);

    std::ostringstream precise;
    precise.precision(17);
    precise << system;
    Read exact(precise.str());
    ASSERT_EQ(exact.system.getSize(), 1);
    EXPECT_EQ(exact.system[0]->zPosition, 1.23456789);
}

TEST(DescriptionFile, OpenReadsAFileAndLeavesTheSystemAloneWithoutOne) {
    TOpticalSystem system(7.0);
    system.open("/nonexistent-directory/no-such-description.txt");
    EXPECT_EQ(system.getSize(), 0);
    EXPECT_EQ(system.defaultRadius, 7.0);

    const std::string name = ::testing::TempDir() + "lumivex_description_test.txt";
    {
        std::ofstream file(name);
        file << "OpticalSystem\n3\nSlab\t0\t1\nGrinRod\t10\t1.6\t0.2\t0\t0\n";
    }
    system.open(name.c_str());
    std::remove(name.c_str());
    ASSERT_EQ(system.getSize(), 2);
    EXPECT_EQ(system.defaultRadius, 3.0);
    EXPECT_EQ(system[1]->zPosition, 10.0);
}

TEST(DescriptionReport, SaysWhereEveryWordCameFromAndWhereReadingStopped) {
    const std::string text =
        "OpticalSystem 4\nSlab 1 1.5 note\n  Lens 5 1.5 1 -20 0\nGrinRod 9 1.6 0.2x 0 0\nSlab 20 1";
    std::istringstream is(text);
    TOpticalSystem system(7.0);
    TReadReport report;
    readDescription(is, system, &report);

    // The same elements as the plain reader, which keeps no report.
    Read plain(text);
    EXPECT_EQ(written(system), written(plain.system));
    EXPECT_TRUE(is.fail());

    EXPECT_EQ(report.header.text, "OpticalSystem");
    EXPECT_EQ(report.radius.text, "4");
    EXPECT_EQ(report.radius.line, 1);
    ASSERT_EQ(report.records.size(), 3u);
    EXPECT_EQ(report.elementsAdded, 3);
    EXPECT_EQ(report.records[1].keyword.line, 3);
    EXPECT_EQ(report.records[1].keyword.column, 3);
    EXPECT_TRUE(report.records[1].complete());
    EXPECT_EQ(report.records[1].values[3].text, "-20");
    ASSERT_EQ(report.skipped.size(), 1u);
    EXPECT_EQ(report.skipped[0].text, "note");
    EXPECT_EQ(report.skipped[0].column, 12);

    // "0.2x": the g was read, the h4 extraction began at "x".
    EXPECT_FALSE(report.records[2].complete());
    EXPECT_EQ(report.records[2].values.size(), 3u);
    EXPECT_TRUE(report.stopped);
    EXPECT_FALSE(report.atEnd);
    EXPECT_EQ(report.line, 4);
    EXPECT_EQ(report.column, 15);
    EXPECT_EQ(report.word, "0.2x");
    EXPECT_EQ(report.fromHere, "x");
    EXPECT_EQ(describeStop(report),
              "reading stopped at word \"0.2x\" (at \"x\"), which is not the h4 of the GrinRod "
              "record");
    // As an error it says where in the one place style, and carries the place.
    const xmsg stop = stopError(report, "rod.txt");
    EXPECT_EQ(stop.message(), "rod.txt:4:15: " + describeStop(report));
    ASSERT_TRUE(stop.hasLocation());
    EXPECT_EQ(stop.location().line, 4);
    EXPECT_EQ(stop.location().column, 15);
    EXPECT_EQ(stop.location().surface, -1);
    EXPECT_EQ(locationPrefix({"lens.zmx", 28, 0, 1}), "lens.zmx:28: surface 1:");
    EXPECT_EQ(locationPrefix({"lens.zmx", 0, 0, -1}), "lens.zmx:");
    EXPECT_FALSE(xmsg("no place").hasLocation());

    // A text that ends inside a record names the line of its last word.
    std::istringstream shortText("OpticalSystem 4\nLens 5 1.5\n\n");
    TOpticalSystem other(7.0);
    readDescription(shortText, other, &report);
    EXPECT_TRUE(report.stopped && report.atEnd);
    EXPECT_EQ(report.line, 2);
    EXPECT_EQ(describeStop(report),
              "the text ends where the second index of the Lens record should be");
    EXPECT_EQ(other.getSize(), 1);
}

// A host's surface: the catalogue knows the library class it derives from
// but copies only the library's own classes.
struct HostSlab : TSlab {
    HostSlab() : TElement(2.0), TSlab(2.0, 1.5) {}
};

TEST(ElementCatalogue, KnowsEveryKindAndCopiesItExactly) {
    std::vector<std::unique_ptr<TElement>> elements;
    elements.push_back(std::make_unique<TSlab>(1.0, complex(1.5, 0.01)));
    elements.push_back(std::make_unique<TLens>(2.0, 1.5, 0.0, 1.0, -20.0));
    elements.push_back(std::make_unique<TGeneralLens>(3.0, 1.5, 0.0, 10.0, -0.5));
    elements.push_back(std::make_unique<TSphericalLens>(4.0, 1.5, 0.5, 10.0));
    elements.push_back(std::make_unique<TEllipticalLens>(5.0, 1.5, 0.0, 4.0, 3.0));
    elements.push_back(std::make_unique<THyperbolicLens>(6.0, 1.5, 0.0, 4.0, 3.0));
    elements.push_back(std::make_unique<TFresnelLens>(7.0, 1.5, 0.5, 1.5, 20.0));
    elements.push_back(std::make_unique<TPolynomialSurface>(8.0, 1.5, 0.0));
    elements.push_back(
        std::make_unique<TEvenAsphere>(8.5, 1.5, 0.0, 10.0, -1.0, std::vector<double>{1e-3, -2e-5}));
    elements.push_back(std::make_unique<TPolynomialXYSurface>(9.0, 1.5, 0.0, 2, 2));
    elements.push_back(std::make_unique<TMatrixSurface>(10.0, 1.5, 0.1, 0.1, new TMatrix(3, 3)));
    elements.push_back(std::make_unique<TMatrixLens>(11.0, 1.5, 10.0, 0.0, 0.0, 5, 5, 0.1, 0.1));
    elements.push_back(std::make_unique<TGrinRod>(12.0, 1.6, 0.2, 0.0, 0.0));
    std::vector<std::string> names;
    TOpticalSystem recorded(1.0);
    for (const auto& e : elements) {
        e->optRadius = 0.25;
        const TElementKind* kind = kindOf(*e);
        ASSERT_NE(kind, nullptr);
        ASSERT_TRUE(kind->isExactly(*e)) << kind->name;
        names.push_back(kind->name);
        const std::unique_ptr<TElement> copy = cloneElement(*e);
        ASSERT_NE(copy, nullptr) << kind->name;
        EXPECT_EQ(typeid(*copy), typeid(*e));
        EXPECT_EQ(copy->optRadius, 0.25);
        EXPECT_EQ(copy->getRefIndex(TVector(0.05, 0, 0), 0), e->getRefIndex(TVector(0.05, 0, 0), 0));
        // A record written by the copy reads back through the catalogue.
        if (!kind->keyword.empty()) {
            recorded.addElement(cloneElement(*e).release());
            EXPECT_EQ(kindForKeyword(kind->keyword), kind);
            const std::unique_ptr<TElement> made = kind->make(kind->recordValues(*e));
            std::ostringstream a, b;
            e->write(a);
            made->write(b);
            EXPECT_EQ(a.str(), b.str());
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{
                         "Slab", "Lens", "GeneralLens", "SphericalLens", "EllipticalLens",
                         "HyperbolicLens", "FresnelLens", "PolynomialSurface",
                         "EvenAsphere", "PolynomialXYSurface", "MatrixSurface", "MatrixLens", "GrinRod"}));

    // Every kind with a record reads back from the text to the same doubles.
    std::ostringstream text;
    text.precision(17);
    text << recorded;
    TOpticalSystem again(1.0);
    std::istringstream in(text.str());
    in >> again;
    std::ostringstream second;
    second.precision(17);
    second << again;
    EXPECT_EQ(again.getSize(), 5);
    EXPECT_EQ(second.str(), text.str());

    // Copies of a table surface own their own table.
    const auto& matrix = dynamic_cast<const TMatrixLens&>(*elements[11]);
    const std::unique_ptr<TElement> copy = cloneElement(matrix);
    EXPECT_NE(dynamic_cast<const TMatrixLens&>(*copy).heightTable, matrix.heightTable);

    HostSlab host;
    EXPECT_EQ(kindOf(host)->name, "Slab");
    EXPECT_EQ(cloneElement(host), nullptr);
    const TElement plain(1.0);
    EXPECT_EQ(kindOf(plain), nullptr);
}
