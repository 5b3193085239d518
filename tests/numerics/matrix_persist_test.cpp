// Matrix persistence in the lite-variant form and the variant form (and the
// XML text of that variant), with damaged records.
#include "numerics/CKzMatrix.h"

#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzVariant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

CKzMatrix Sample(unsigned int rows, unsigned int cols)
{
    CKzMatrix m(rows, cols);
    for (unsigned int r = 0; r < rows; ++r)
        for (unsigned int c = 0; c < cols; ++c) m[r][c] = (r + 1) * 10.0 + c + 1.0 / (3.0 + r * c);
    return m;
}

void ExpectSame(const CKzMatrix& a, const CKzMatrix& b)
{
    ASSERT_EQ(a.Rows(), b.Rows());
    ASSERT_EQ(a.Columns(), b.Columns());
    EXPECT_EQ(a.IsValid(), b.IsValid());
    for (unsigned int r = 0; r < a.Rows() && a.IsValid(); ++r)
        EXPECT_EQ(0, std::memcmp(a[r], b[r], sizeof(double) * a.Columns())) << r;
}

// Writes a level "M" through the writer callback and returns a reader inside it.
template <class F>
void LiteLevel(CKzLiteVariantR& r, F write)
{
    CKzLiteVariantW w;
    ASSERT_EQ(0, w.LevelBegin(L"M"));
    write(w);
    ASSERT_EQ(0, w.LevelEnd());
    ASSERT_NE(w.Finalize(r), nullptr);
    ASSERT_EQ(0, r.LevelBegin(L"M"));
}

}  // namespace

TEST(CKzMatrixPersistence, LiteRoundTrip)
{
    CKzMatrix special = Sample(2, 3);
    special[0][0] = std::numeric_limits<double>::infinity();
    special[1][2] = -0.0;
    special[1][1] = std::numeric_limits<double>::denorm_min();
    const CKzMatrix cases[] = {Sample(3, 3), Sample(1, 5), Sample(7, 2), special, CKzMatrix()};
    for (const CKzMatrix& m : cases) {
        CKzLiteVariantR r;
        LiteLevel(r, [&](CKzLiteVariantW& w) { EXPECT_EQ(0, m.SaveToLiteVariant(w)); });
        EXPECT_EQ(r.Get(L"Rows", 99u), m.Rows());
        EXPECT_EQ(r.Get(L"Columns", 99u), m.Columns());
        EXPECT_EQ(r.IsValueSet(L"Data"), m.IsValid());
        CKzMatrix back(4, 4, 1.0);
        EXPECT_EQ(0, back.LoadFromLiteVariant(r));
        ExpectSame(back, m);
    }
}

TEST(CKzMatrixPersistence, LiteDataIsLittleEndianRowAfterRow)
{
    const CKzMatrix m = Sample(2, 2);
    CKzLiteVariantR r;
    LiteLevel(r, [&](CKzLiteVariantW& w) { m.SaveToLiteVariant(w); });
    unsigned long size = 0;
    const unsigned char* p = static_cast<const unsigned char*>(r.Get(L"Data", &size));
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(size, 32u);
    const double expect[4] = {m[0][0], m[0][1], m[1][0], m[1][1]};
    for (int i = 0; i < 4; ++i) {
        unsigned long long bits;
        std::memcpy(&bits, &expect[i], 8);
        for (int b = 0; b < 8; ++b) EXPECT_EQ(p[i * 8 + b], (bits >> (8 * b)) & 0xFF);
    }
}

TEST(CKzMatrixPersistence, LiteDamagedRecordsAreRefused)
{
    struct Case { unsigned int rows, cols; unsigned long dataBytes; bool withData; int result; unsigned int expectRows; };
    const Case cases[] = {
        {1000000, 1000000, 16, true, KZ_ERR_FAILED, 0},   // absurd size, little data
        {0xFFFFFFFFu, 0xFFFFFFFFu, 8, true, KZ_ERR_FAILED, 0},
        {2, 2, 24, true, KZ_ERR_FAILED, 0},               // one value short
        {2, 2, 0, false, KZ_ERR_FAILED, 0},               // no data at all
        {2, 2, 40, true, KZ_OK, 2},                       // longer data: the values are read
        {0, 5, 40, true, KZ_OK, 0},                       // no rows: empty
        {3, 0, 0, false, KZ_OK, 0},                       // no columns: empty
    };
    for (const auto& c : cases) {
        CKzLiteVariantR r;
        unsigned char bytes[64];
        for (unsigned i = 0; i < sizeof(bytes); ++i) bytes[i] = static_cast<unsigned char>(i);
        LiteLevel(r, [&](CKzLiteVariantW& w) {
            w.Set(c.cols, L"Columns");
            w.Set(c.rows, L"Rows");
            if (c.withData) w.Set(static_cast<const void*>(bytes), c.dataBytes, L"Data");
        });
        CKzMatrix m(2, 2, 5.0);
        EXPECT_EQ(m.LoadFromLiteVariant(r), c.result) << c.rows << "x" << c.cols;
        EXPECT_EQ(m.Rows(), c.expectRows);
        if (c.result == KZ_OK && c.expectRows) EXPECT_EQ(0, std::memcmp(m[0], bytes, 32));
    }
    // A missing "Rows" gives the empty matrix.
    CKzLiteVariantR r;
    LiteLevel(r, [&](CKzLiteVariantW& w) { w.Set(3u, L"Columns"); });
    CKzMatrix m(2, 2, 5.0);
    EXPECT_EQ(0, m.LoadFromLiteVariant(r));
    EXPECT_FALSE(m.IsValid());
}

TEST(CKzMatrixPersistence, VariantAndXmlRoundTrip)
{
    const CKzMatrix cases[] = {Sample(3, 3), Sample(4, 1), CKzMatrix()};
    for (const CKzMatrix& m : cases) {
        CKzVariant v(CKzListVariant(), L"Matrix");
        ASSERT_EQ(0, m.SaveToVariant(v));
        ASSERT_EQ(v.GetCount(), m.IsValid() ? 3 : 2);
        EXPECT_STREQ(v[0].GetName().GetString(), L"Columns");
        EXPECT_STREQ(v[0].GetRunType().GetNameA(), "kz_uint32");
        EXPECT_STREQ(v[1].GetName().GetString(), L"Rows");
        if (m.IsValid()) {
            EXPECT_STREQ(v[2].GetName().GetString(), L"Data");
            EXPECT_STREQ(v[2].GetRunType().GetNameA(), "CKzByteArray");
        }
        CKzMatrix back(2, 2, 1.0);
        EXPECT_EQ(0, back.LoadFromVariant(v));
        ExpectSame(back, m);

        // Through the XML text of the variant.
        CKzStringW xml;
        ASSERT_EQ(0, CKzSerializerXMLString::VariantToDocument(xml, v));
        CKzVariant parsed;
        ASSERT_EQ(0, CKzSerializerXMLString::VariantFromXML(parsed, xml));
        CKzMatrix fromXml;
        EXPECT_EQ(0, fromXml.LoadFromVariant(parsed));
        ExpectSame(fromXml, m);

        // And through the lite form of the variant tree.
        CKzLiteVariantW w;
        CKzLiteVariantR r;
        ASSERT_EQ(0, w.Set(v, nullptr));
        w.Finalize(r);
        CKzVariant tree;
        ASSERT_EQ(0, r.Get(L"Matrix", tree));
        CKzMatrix fromLite;
        EXPECT_EQ(0, fromLite.LoadFromVariant(tree));
        ExpectSame(fromLite, m);
    }
}

TEST(CKzMatrixPersistence, VariantShortDataIsRefused)
{
    CKzVariant v(CKzListVariant(), L"Matrix");
    v.Append(CKzVariant(3u, L"Columns"));
    v.Append(CKzVariant(3u, L"Rows"));
    double values[8] = {1, 2, 3, 4, 5, 6, 7, 8};  // one short of 3 x 3
    v.Append(CKzVariant(CKzByteArray(values, sizeof(values), 1024), L"Data"));
    CKzMatrix m(2, 2, 1.0);
    EXPECT_EQ(m.LoadFromVariant(v), KZ_ERR_FAILED);
    EXPECT_FALSE(m.IsValid());

    CKzVariant huge(CKzListVariant(), L"Matrix");
    huge.Append(CKzVariant(0xFFFFFFFFu, L"Columns"));
    huge.Append(CKzVariant(0xFFFFFFFFu, L"Rows"));
    EXPECT_EQ(m.LoadFromVariant(huge), KZ_ERR_FAILED);
    EXPECT_FALSE(m.IsValid());

    // Data of another type than bytes holds no values.
    CKzVariant wrong(CKzListVariant(), L"Matrix");
    wrong.Append(CKzVariant(1u, L"Columns"));
    wrong.Append(CKzVariant(1u, L"Rows"));
    wrong.Append(CKzVariant(5, L"Data"));
    EXPECT_NE(m.LoadFromVariant(wrong), 0);
    EXPECT_FALSE(m.IsValid());
}
