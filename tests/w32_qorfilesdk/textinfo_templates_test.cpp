// Text-information templates: the symbol table, translation of each symbol,
// defaults, the open sequence and the detection of a user's edits.
#include "textinfo_support.h"

#include <cmath>
#include <ctime>

using namespace textinfo;

namespace {

class TextInfoTemplates : public TextInfoTest {
protected:
    void SetUp() override
    {
        TextInfoTest::SetUp();
        md.wsObjectiveName = L"Plan 10x";
        md.bCalibrated = false;
        md.dCalibration = 0.325;
        md.dAspect = 1.25;
        md.dXPos = 1.5;
        md.dYPos = -2;
        md.dZPos = 100.25;
        // 2021-06-15 10:30:00 UTC as a Julian day number.
        md.dTimeAbsolute = 2459380.9375;
        md.dTimeMSec = 0;
        Planes(md, 1, 1);
        md.sPicturePlanes.pPlanes[0].sDescription = L"DAPI";
        md.sPicturePlanes.pPlanes[0].uiModalityMask = 0x1;
    }
    std::wstring Translate(const wchar_t* text, const wchar_t* before = L"")
    {
        CKzStringW out(before);
        wrapper.TranslateTextInfo(out, text, md, nullptr);
        return W(out);
    }
    SKzPictureMetadata md;
    FileWrapperTextInfo wrapper{md, nullptr};
};

TEST_F(TextInfoTemplates, SymbolTableRowsInReplacementOrder)
{
    struct Row {
        int id;
        const wchar_t* symbol;
        const wchar_t* label;
        unsigned value;
    } rows[17] = {
        {1, L"%KEEP_INFO%", L"keep info", 1},
        {2, L"%OBJECTIVE%", L"objective name", 0},
        {3, L"%CALIBRATION%", L"calibration", 0},
        {4, L"%UNIT%", L"unit", 0},
        {5, L"%ASPECT%", L"aspect", 0},
        {6, L"%MEAS_FRAME%", L"measurement frame", 0},
        {7, L"%USER%", L"user name", 0},
        {8, L"%DATE%", L"date", 0},
        {17, L"%TIME%", L"acquisition time", 0},
        {9, L"%SAMPLE_NUMBER%", L"sample number", 0},
        {10, L"%ALL_METADATA%", L"all captured metadata", 0},
        {11, L"%CAMERA%", L"camera name", 18},
        {12, L"%CAMERA_SETTINGS%", L"camera settings", 2},
        {13, L"%STAGE_POS_X%", L"stage position x", 20},
        {14, L"%STAGE_POS_Y%", L"stage position y", 4},
        {15, L"%STAGE_POS_Z%", L"stage position z", 24},
        {18, L"%EMPTY%", L"copy from defaults", 0},
    };
    EXPECT_EQ(0u, wrapper.GetInfoSymbolCount());
    EXPECT_EQ(nullptr, wrapper.GetInfoSymbol(2));
    wrapper.RegisterInfoSymbols();
    wrapper.RegisterInfoSymbols();   // registering again starts over
    ASSERT_EQ(17u, wrapper.GetInfoSymbolCount());
    for (const Row& r : rows) {
        const SKzInfoSymbol* s = wrapper.GetInfoSymbol(r.id);
        ASSERT_NE(nullptr, s) << r.id;
        EXPECT_EQ(r.id, (int)s->eID);
        EXPECT_STREQ(r.symbol, s->pSymbol);
        EXPECT_STREQ(r.label, s->pLabel);
        EXPECT_EQ(r.value, s->uiValue) << r.id;
    }
    EXPECT_EQ(nullptr, wrapper.GetInfoSymbol(16));
    EXPECT_EQ(nullptr, wrapper.GetInfoSymbol(0));

    // A full table refuses an eighteenth row with the diagnostic.
    testing::internal::CaptureStdout();
    EXPECT_EQ(-17, wrapper.RegisterInfoSymbol(eInfoEmpty, L"%MORE%", L"more", 0));
    EXPECT_EQ("\nFailure! File: gnr_metaformats/FileWrapperTextInfo, line: 143\n",
              testing::internal::GetCapturedStdout());
    EXPECT_EQ(17u, wrapper.GetInfoSymbolCount());
    wrapper.UnregisterInfoSymbols();
    EXPECT_EQ(0u, wrapper.GetInfoSymbolCount());
    EXPECT_EQ(L"%OBJECTIVE%", Translate(L"%OBJECTIVE%"));   // nothing registered: nothing replaced
}

TEST_F(TextInfoTemplates, EachSymbolsReplacement)
{
    wrapper.RegisterInfoSymbols();
    struct Case {
        const char* name;
        bool calibrated;
        double calibration;
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {"objective twice", false, 0.325, L"Obj: %OBJECTIVE% / %OBJECTIVE%!", L"Obj: Plan 10x / Plan 10x!"},
        {"uncalibrated", false, 0.325, L"%CALIBRATION% %UNIT% %ASPECT%", L"Uncalibrated pixel 1.0"},
        {"calibration 0", true, 0.0, L"%CALIBRATION% %UNIT% %ASPECT%", L"Uncalibrated pixel 1.0"},
        {"calibrated", true, 0.325, L"%CALIBRATION% %UNIT% %ASPECT%", L"325.000 nm 1.2500"},
        {"vanishing symbols", false, 0, L"[%MEAS_FRAME%%USER%%SAMPLE_NUMBER%%EMPTY%]", L"[]"},
        {"stage", false, 0, L"%STAGE_POS_X%, %STAGE_POS_Y%, %STAGE_POS_Z%",
         L"X = 1.500000, Y = -2.000000, Z = 100.250000"},
        {"acquisition time in the local zone", false, 0, L"%TIME% | %DATE%", L"2021-06-15 12:30:00 | 2021-06-15"},
        {"unknown and miscased symbols stay", false, 0, L"%FOO% %objective% %OBJECTIVE", L"%FOO% %objective% %OBJECTIVE"},
        {"no symbol", false, 0, L"plain text", L"plain text"},
        {"empty", false, 0, L"", L""},
    };
    for (const Case& c : cases) {
        md.bCalibrated = c.calibrated;
        md.dCalibration = c.calibration;
        EXPECT_EQ(std::wstring(c.expected), Translate(c.text)) << c.name;
    }
}

TEST_F(TextInfoTemplates, KeepInfoTakesTheFieldsFormerText)
{
    wrapper.RegisterInfoSymbols();
    EXPECT_EQ(L"<old>", Translate(L"<%KEEP_INFO%>", L"old"));
    // The inserted text is not searched again for the same symbol: this ends.
    EXPECT_EQ(L"<%KEEP_INFO%>", Translate(L"<%KEEP_INFO%>", L"%KEEP_INFO%"));
    // Later symbols do see what an earlier one inserted.
    EXPECT_EQ(L"Plan 10x", Translate(L"%KEEP_INFO%", L"%OBJECTIVE%"));
    // The template may be the field's own text.
    CKzStringW out(L"a %KEEP_INFO% b");
    wrapper.TranslateTextInfo(out, out.GetString(), md, nullptr);
    EXPECT_EQ(L"a a %KEEP_INFO% b b", W(out));
}

TEST_F(TextInfoTemplates, UnknownTimeShowsNowMovedByTheFramesTime)
{
    wrapper.RegisterInfoSymbols();
    const double oneDayMs = 86400000.0;
    struct Case {
        double absolute;
    } cases[] = {{-1.0}, {2441317.4}, {NAN}};   // unknown, 31 December 1971, not a number
    for (const Case& c : cases) {
        md.dTimeAbsolute = c.absolute;
        md.dTimeMSec = 3 * oneDayMs + 0.9;   // truncated to whole milliseconds
        const time_t before = time(nullptr);
        const std::wstring text = Translate(L"%TIME%");
        const time_t after = time(nullptr);
        bool matched = false;
        for (time_t t = before; t <= after + 1 && !matched; ++t) {
            const time_t moved = t + 3 * 86400 + 2 * 3600;   // three days later, two hours east
            struct tm parts;
            gmtime_r(&moved, &parts);
            char buffer[32];
            strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &parts);
            matched = text == std::wstring(buffer, buffer + std::strlen(buffer));
        }
        EXPECT_TRUE(matched) << c.absolute;
    }
    // A frame time too large to add keeps the current time.
    md.dTimeAbsolute = -1;
    md.dTimeMSec = 1e300;
    EXPECT_EQ(19u, Translate(L"%TIME%").size());
}

TEST_F(TextInfoTemplates, CameraNamesAndSettingsOfTheSamples)
{
    wrapper.RegisterInfoSymbols();
    struct Case {
        const char* name;
        std::vector<const wchar_t*> cameras;    // null: no camera object
        std::vector<const wchar_t*> settings;
        const wchar_t* names;
        const wchar_t* settingsText;
    } cases[] = {
        {"no sample", {}, {}, L"", L""},
        {"one sample", {L"A"}, {L"Gain 2\nExp 10 ms"}, L"A", L"Gain 2\nExp 10 ms"},
        {"same camera twice", {L"A", L"A"}, {L"x", L""}, L"A", L"Sample 1:\r\n  x"},
        {"A B A", {L"A", L"B", L"A"}, {L"a\nb", L"", L"c"}, L"A + B + A", L"Sample 1:\r\n  a\n  b\r\nSample 3:\r\n  c"},
        {"no camera object or name", {nullptr, L"", L"C"}, {L"", L"", L"\n"}, L"C", L"Sample 3:\r\n  \n"},
        {"repeat after a skipped sample", {L"A", nullptr, L"A"}, {L"", L"", L""}, L"A", L""},
    };
    for (const Case& c : cases) {
        m_cameras.Detach();
        Planes(md, 1, (unsigned)c.cameras.size());
        for (size_t i = 0; i < c.cameras.size(); ++i) {
            SKzSampleSetting& s = md.sPicturePlanes.pSamples[i];
            if (c.cameras[i]) m_cameras.Give(s, c.cameras[i]);
            s.sSpecSettings = c.settings[i];
        }
        EXPECT_EQ(std::wstring(c.names), Translate(L"%CAMERA%")) << c.name;
        EXPECT_EQ(std::wstring(c.settingsText), Translate(L"%CAMERA_SETTINGS%")) << c.name;
        EXPECT_EQ(std::wstring(c.names) + L"\r\n" + c.settingsText, Translate(L"%CAMERA%\r\n%CAMERA_SETTINGS%"))
            << c.name;
    }
    // A user name fills its whole field: at most 128 characters are read.
    m_cameras.Detach();
    Planes(md, 1, 1);
    std::vector<wchar_t> object(KZ_CAMERA_OBJECT_MIN_BYTES / sizeof(wchar_t), L'Q');
    md.sPicturePlanes.pSamples[0].pCameraSetting = object.data();
    EXPECT_EQ(std::wstring(128, L'Q'), Translate(L"%CAMERA%"));
    md.sPicturePlanes.pSamples[0].pCameraSetting = nullptr;
}

TEST_F(TextInfoTemplates, ManyOccurrencesStayLinearAndBounded)
{
    wrapper.RegisterInfoSymbols();
    // 5,000 symbols of 11 characters, each standing for 100: the first 655
    // fit within the bound, the others are removed.
    const std::wstring name(100, L'O');
    md.wsObjectiveName = name.c_str();
    std::wstring many;
    for (int i = 0; i < 5000; ++i) many += L"%OBJECTIVE%";
    std::wstring text = Translate(many.c_str());
    EXPECT_EQ(655u * 100u, text.size());
    EXPECT_EQ(std::wstring::npos, text.find_first_not_of(L'O'));
    // One replacement longer than the bound is still made, once.
    const std::wstring huge(FileWrapperTextInfo::kMaxTranslatedLength + 10, L'H');
    md.wsObjectiveName = huge.c_str();
    text = Translate(L"<%OBJECTIVE%|%OBJECTIVE%>");
    EXPECT_EQ(L"<" + huge + L"|>", text);
    md.wsObjectiveName = L"Plan 10x";
    // A template longer than the bound does not grow either.
    std::wstring longer(FileWrapperTextInfo::kMaxTranslatedLength, L'-');
    longer += L"%OBJECTIVE%%MEAS_FRAME%%OBJECTIVE%";
    const std::wstring same = Translate(longer.c_str());
    EXPECT_LE(same.size(), longer.size());
    EXPECT_EQ(std::wstring(FileWrapperTextInfo::kMaxTranslatedLength, L'-') + L"Plan 10xPlan 10x", same);
    // Within the bound every occurrence is replaced.
    EXPECT_EQ(std::wstring(1000, L'-') + L"Plan 10x", Translate((std::wstring(1000, L'-') + L"%OBJECTIVE%").c_str()));
}

TEST_F(TextInfoTemplates, DefaultsAndClearing)
{
    SKzImageTextInfo& d = wrapper.GetDefaults();
    for (int k = 0; k < 15; ++k) {
        const wchar_t* expected = k == 5    ? L"%ALL_METADATA%"
                                  : k == 6  ? L"%CAMERA%\r\n%CAMERA_SETTINGS%"
                                  : k == 9  ? L"%TIME%"
                                  : k == 13 ? L"%OBJECTIVE%"
                                            : L"";
        EXPECT_EQ(std::wstring(expected), W(d.wsText[k])) << k;
    }
    SKzImageTextInfo info, mask;
    for (int k = 0; k < 15; ++k) info.wsText[k] = L"text";
    FileWrapperTextInfo::ClearImageTextInfoInit(info);
    for (int k = 0; k < 14; ++k) EXPECT_EQ(L"%EMPTY%", W(info.wsText[k])) << k;
    EXPECT_EQ(L"text", W(info.wsText[14]));

    for (int k = 0; k < 15; ++k) info.wsText[k] = L"text";
    mask.wsText[2] = L"x";
    mask.wsText[14] = L"x";
    wrapper.ClearImageTextInfo(info, mask);
    for (int k = 0; k < 15; ++k) EXPECT_EQ(k == 2 ? L"%EMPTY%" : L"text", W(info.wsText[k])) << k;
}

TEST_F(TextInfoTemplates, OpenSequenceFillsDefaultsAndTranslatesInPlace)
{
    wrapper.RegisterInfoSymbols();
    m_cameras.Give(md.sPicturePlanes.pSamples[0], L"Cam1");
    md.sPicturePlanes.pSamples[0].sSpecSettings = L"Gain 3";
    SKzImageTextInfo info;
    FileWrapperTextInfo::ClearImageTextInfoInit(info);
    // What the file held: two items of its own and the writer's version.
    info.wsText[2] = L"Fixed %OBJECTIVE%";
    info.wsText[3] = L"";
    info.wsText[14] = L"writer 1.0";
    wrapper.AddDefaultsToTextInfo(info, info, wrapper.GetDefaults(), false, md, nullptr);
    for (int k = 0; k < 15; ++k) {
        std::wstring expected;
        switch (k) {
        case 2: expected = L"Fixed Plan 10x"; break;
        case 5: expected = W(FileWrapperTextInfo::GetMetadataDescription(md, nullptr)); break;
        case 6: expected = L"Cam1\r\nGain 3"; break;
        case 9: expected = L"2021-06-15 12:30:00"; break;
        case 13: expected = L"Plan 10x"; break;
        case 14: expected = L"writer 1.0"; break;
        default: break;
        }
        EXPECT_EQ(expected, W(info.wsText[k])) << k;
    }
    EXPECT_EQ(0u, W(info.wsText[5]).find(L"Camera Name: Cam1\r\n Name: DAPI\r\n"));

    // With useDefaults the source is not read at all.
    SKzImageTextInfo src, dst;
    for (int k = 0; k < 15; ++k) src.wsText[k] = L"ignored";
    dst.wsText[14] = L"kept";
    wrapper.AddDefaultsToTextInfo(dst, src, wrapper.GetDefaults(), true, md, nullptr);
    EXPECT_EQ(L"", W(dst.wsText[0]));
    EXPECT_EQ(L"Plan 10x", W(dst.wsText[13]));
    EXPECT_EQ(L"2021-06-15 12:30:00", W(dst.wsText[9]));
    EXPECT_EQ(L"kept", W(dst.wsText[14]));
}

TEST_F(TextInfoTemplates, TranslatingARecordIntoItself)
{
    wrapper.RegisterInfoSymbols();
    SKzImageTextInfo info;
    for (int k = 0; k < 15; ++k) info.wsText[k] = L"%KEEP_INFO%+";
    info.wsText[13] = L"%OBJECTIVE%";
    wrapper.TranslateImageTextInfo(info, info, md, nullptr);
    for (int k = 0; k < 14; ++k)
        EXPECT_EQ(k == 13 ? L"Plan 10x" : L"%KEEP_INFO%++", W(info.wsText[k])) << k;
    EXPECT_EQ(L"%KEEP_INFO%+", W(info.wsText[14]));   // item 14 is never translated
}

TEST_F(TextInfoTemplates, UserEditReplacesItsTemplate)
{
    wrapper.RegisterInfoSymbols();
    SKzImageTextInfo templates, current;
    FileWrapperTextInfo::ClearImageTextInfoInit(templates);
    templates.wsText[2] = L"Objective: %OBJECTIVE%";
    wrapper.AddDefaultsToTextInfo(current, templates, wrapper.GetDefaults(), false, md, nullptr);
    EXPECT_EQ(L"Objective: Plan 10x", W(current.wsText[2]));
    current.wsText[2] = L"My own text";
    wrapper.UpdateImageTextInfo(templates, current, wrapper.GetDefaults(), md, nullptr);
    EXPECT_EQ(L"My own text", W(templates.wsText[2]));
    for (int k = 0; k < 14; ++k)
        if (k != 2) EXPECT_EQ(L"%EMPTY%", W(templates.wsText[k])) << k;
    // Unchanged texts keep their templates, even when the metadata moves on.
    md.wsObjectiveName = L"Plan 20x";
    SKzImageTextInfo again;
    wrapper.AddDefaultsToTextInfo(again, templates, wrapper.GetDefaults(), false, md, nullptr);
    wrapper.UpdateImageTextInfo(templates, again, wrapper.GetDefaults(), md, nullptr);
    EXPECT_EQ(L"%EMPTY%", W(templates.wsText[13]));
    EXPECT_EQ(L"Plan 20x", W(again.wsText[13]));
}

} // namespace
