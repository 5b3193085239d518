// Date-time persistence: the "RKzDateTime" structure variant, its XML text
// and its lite-variant form.
#include "gnr_system/CKzDateTime.h"

#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzVariant.h"

#include <gtest/gtest.h>

namespace {

// Saves, checks the node, and reads back through the variant, its XML text
// and, when asked, the lite-variant form.
void RoundTrip(long long value, bool throughLite)
{
    SCOPED_TRACE(value);
    const CKzDateTime dt(value);
    CKzVariant v(1.5, L"when");
    ASSERT_EQ(0, dt.SaveToVariant(v));
    EXPECT_STREQ(v.GetRunType().GetNameA(), "RKzDateTime");
    EXPECT_FALSE(v.IsEnabledTypeChange());  // the setting is restored
    EXPECT_STREQ(v[L"time"].GetRunType().GetNameA(), "kz_int64");
    EXPECT_EQ(v[L"time"].GetKz_int64(), value);

    CKzDateTime back(77);
    ASSERT_EQ(0, back.LoadFromVariant(v));
    EXPECT_EQ(back.GetValue(), value);

    CKzStringW xml;
    ASSERT_EQ(0, CKzSerializerXMLString::VariantToDocument(xml, v));
    CKzVariant parsed;
    ASSERT_EQ(0, CKzSerializerXMLString::VariantFromXML(parsed, xml));
    CKzDateTime fromXml(77);
    ASSERT_EQ(0, fromXml.LoadFromVariant(parsed));
    EXPECT_EQ(fromXml.GetValue(), value);

    if (!throughLite) return;
    CKzLiteVariantW w;
    CKzLiteVariantR r;
    ASSERT_EQ(0, w.Set(v, nullptr));
    ASSERT_NE(w.Finalize(r), nullptr);
    CKzVariant tree;
    ASSERT_EQ(0, r.Get(L"when", tree));
    CKzDateTime fromLite(77);
    ASSERT_EQ(0, fromLite.LoadFromVariant(tree));
    EXPECT_EQ(fromLite.GetValue(), value);
}

const long long kValues[] = {0, 1278261015250LL, -11670515570877LL, -1, 9223372036854775807LL};

}  // namespace

TEST(CKzDateTimePersistence, RoundTripsInBothForms)
{
    // No host registers "RKzDateTime" here: the structure keeps its run type
    // and its member through the variant, the XML text and the lite form.
    // (Registering it would change the process-wide registry for every
    // other test in this program.)
    ASSERT_LT(CKzVariant::GetRunTypeIndex(CKzVariantRunType("RKzDateTime")), 0);
    for (long long value : kValues) RoundTrip(value, true);
}

TEST(CKzDateTimePersistence, WrongRunTypeIsRefused)
{
    CKzDateTime dt(1234);
    CKzVariant list(CKzListVariant(), L"when");
    list.Append(CKzVariant(99L, L"time"));
    EXPECT_EQ(dt.LoadFromVariant(list), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(dt.LoadFromVariant(CKzVariant(5L, L"time")), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(dt.LoadFromVariant(CKzVariant()), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(dt.GetValue(), 1234);
}
