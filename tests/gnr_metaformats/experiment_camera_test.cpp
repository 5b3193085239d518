// Camera and large-image queries over experiment trees.
#include "experiment_nav_support.h"

#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_metaformats/SKzSampleSetting.h"

#include <cstring>
#include <string>

using namespace navtest;

namespace {

// Camera objects owned by the test: the unique name leads the object.
struct Cameras {
    std::vector<std::vector<wchar_t>> objects;
    std::vector<SKzSampleSetting*> users;
    void Give(Exp* spect, u32 channel, const wchar_t* name)
    {
        SKzSampleSetting* s = spect->uLoopPars.sSpectLoop.pPlanes->GetPlaneSettings(channel);
        ASSERT_NE(nullptr, s);
        objects.emplace_back(KZ_CAMERA_OBJECT_MIN_BYTES / sizeof(wchar_t), L'\0');
        std::wcsncpy(objects.back().data(), name, 63);
        s->pCameraSetting = objects.back().data();
        users.push_back(s);
    }
    void Release()
    {
        for (auto* s : users) s->pCameraSetting = nullptr;
        users.clear();
    }
};

// A spectral level whose channels each have their own sample setting.
Exp* Spect(u32 channels)
{
    Exp* e = nullptr;
    EXPECT_EQ(0, Exp::Alloc(&e));
    EXPECT_EQ(0, Exp::Init(*e, Exp::eExpSpectLoop, false, channels, 0, 0, channels));
    auto* pl = e->uLoopPars.sSpectLoop.pPlanes;
    for (u32 c = 0; c < channels && pl && pl->pPlanes; ++c) pl->pPlanes[c].uiSampleIndex = c;
    e->uiRepeatCount = 1;
    return e;
}

std::wstring W(const CKzStringW& s) { return s.GetString() ? s.GetString() : L""; }

} // namespace

TEST(ExperimentCamera, CameraDescription)
{
    struct Case {
        const char* name;
        std::vector<std::vector<const wchar_t*>> levels;   // camera per channel ("" none)
        std::vector<int> flags;                            // flags of the first spectral level
        bool merge;
        u32 count;
        const wchar_t* first;
        const wchar_t* second;
    } cases[] = {
        {"no spectral level", {}, {}, false, 1, L"Root", L""},
        {"one camera", {{L"A", L"A"}}, {}, false, 1, L"A", L""},
        {"two cameras merged", {{L"A", L"B"}}, {}, true, 2, L"A", L"B"},
        {"cameras over two levels", {{L"A"}, {L"", L"B"}}, {}, false, 2, L"A", L"B"},
        {"a clear channel is skipped", {{L"A", L"B"}}, {1, 0}, false, 1, L"A", L""},
        {"no names: root camera", {{L"", L""}}, {}, false, 1, L"Root", L""},
    };
    for (auto& c : cases) {
        Cameras cams;
        std::vector<Exp*> kids;
        for (size_t i = 0; i < c.levels.size(); ++i) {
            Exp* s = Spect((u32)c.levels[i].size());
            s->uLoopPars.sSpectLoop.bMergeCameras = c.merge;
            for (u32 ch = 0; ch < c.levels[i].size(); ++ch)
                if (c.levels[i][ch][0]) cams.Give(s, ch, c.levels[i][ch]);
            if (i == 0 && !c.flags.empty()) Flags(s, c.flags);
            kids.push_back(s);
        }
        Tree t(L(Exp::eExpXYPosLoop, 2, kids));
        t->wsCameraName = L"Root";
        CKzStringW first, second;
        bool merged = !c.merge;
        EXPECT_EQ(c.count, API::GetCameraDescription(t.get(), &first, &second, &merged)) << c.name;
        EXPECT_EQ(std::wstring(c.first), W(first)) << c.name;
        EXPECT_EQ(std::wstring(c.second), W(second)) << c.name;
        if (!c.levels.empty()) EXPECT_EQ(c.merge, merged) << c.name;
        EXPECT_EQ(c.count, API::GetCameraDescription(t.get(), nullptr, nullptr, nullptr)) << c.name;
        cams.Release();
    }

    // A third camera ends the enumeration.
    Cameras cams;
    Tree s(Spect(3));
    cams.Give(s.get(), 0, L"A");
    cams.Give(s.get(), 1, L"B");
    cams.Give(s.get(), 2, L"C");
    CKzStringW ctx[3];
    EXPECT_EQ(KZ_ERR_FAILED, EnumerateCameras(s.get(), 0, ctx));
    EXPECT_EQ(KZ_ERR_FAILED, EnumerateCameras(nullptr, 0, ctx));
    EXPECT_EQ(KZ_ERR_FAILED, EnumerateCameras(s.get(), 0, nullptr));
    cams.Release();
}

TEST(ExperimentCamera, LargeImage)
{
    Tree t(L(Exp::eExpTimeLoop, 2, {L(Exp::eExpXYPosLoop, 3, {L(Exp::eExpZStackLoop, 2)})}));
    Exp::SKzLIDesc d{};
    EXPECT_EQ(KZ_ERR_FAILED, API::GetLargeImage(t.get(), &d, L"A"));
    EXPECT_EQ(KZ_ERR_FAILED, API::GetLargeImage(nullptr, &d, L"A"));
    auto give = [](Exp* e, int fields) {
        e->pLargeImage = new Exp::SKzLIDesc[2]();
        e->pLargeImage[0].iXFields = fields;
        e->pLargeImage[1].iXFields = fields + 1;
        std::wcscpy(e->pLargeImage[0].sCamera, L"A");
        std::wcscpy(e->pLargeImage[1].sCamera, L"B");
    };
    give(t.get(), 10);
    give(t->ppNextLevelEx[0], 20);   // the deepest description wins
    t->wsCameraName = L"B";
    struct {
        const wchar_t* camera;
        int fields;
    } cases[] = {{L"A", 20}, {L"B", 21}, {L"C", 20}, {nullptr, 21}, {L"", 21}};
    for (auto& c : cases) {
        d.iXFields = 0;
        EXPECT_EQ(0, API::GetLargeImage(t.get(), &d, c.camera));
        EXPECT_EQ(c.fields, d.iXFields) << (c.camera ? "named" : "null");
    }
    EXPECT_EQ(0, API::GetLargeImage(t.get(), nullptr, L"A"));
}
