// A small host of libvt5: builds a custom description form (a check box, a
// number with a unit, a choice and a date), saves it in the lite-variant form
// the files carry, reloads it into a new form and prints every item.
#include <clocale>
#include <cstdio>

#include "gnr_metaformats/CKzCustomDescription.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzString.h"

int main()
{
    std::setlocale(LC_ALL, "C");
    typedef CKzCustomDescription Desc;

    Desc form;
    form.SetName(L"Sample preparation");
    Desc::CKzLabel stained(L"Stained", 1);
    stained.SetMandatory(true);
    form << stained;
    Desc::CKzNumber thickness(L"Thickness", 4.5, L"um");
    thickness.SetNumberFormat(Desc::CKzItem::eKzFixed, 1);
    form << thickness;
    CKzStringW media[] = {L"Water", L"Oil", L"Glycerol"};
    form << Desc::CKzSelection(L"Medium", 1, 3, media);
    Desc::CKzDate prepared(L"Prepared", CKzDateTime(1700000000000LL));
    prepared.SetDateFormat(Desc::CKzDate::eKzDateOnly);
    form << prepared;
    form.StorePreset(0, L"Usual");

    CKzLiteVariantW writer;
    form.SaveToLiteVariant(writer);
    CKzLiteVariantR blob;
    if (!writer.Finalize(blob)) {
        std::printf("cannot save the form\n");
        return 1;
    }

    Desc reloaded;
    reloaded.LoadFromLiteVariant(blob);
    std::printf("form \"%ls\": %zu items, %zu bytes, preset \"%ls\"\n", reloaded.GetName(), reloaded.size(),
                (size_t)blob.GetSize(), reloaded.GetPresetName(0));
    CKzStringW lines;
    for (const Desc::CKzItem* item : reloaded) item->Trace(&lines);
    std::printf("%ls", lines.GetString());
    bool same = reloaded.Compare(form, false, false) == 0;
    std::printf("reloaded form %s the original\n", same ? "equals" : "differs from");
    return same ? 0 : 1;
}
