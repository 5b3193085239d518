// Shared set-up of the text-information tests: a pinned zone and locale,
// camera objects owned by the test, and metadata built in a few lines.
#pragma once

#include "w32_qorfilesdk/FileWrapperTextInfo.h"

#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_system/CKzDateTime.h"
#include "gnr_system/KzUnits.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace textinfo {

inline std::wstring W(const CKzStringW& s) { return std::wstring(s.GetString(), (size_t)s.GetLength()); }

// Camera objects of the layout sample settings read: the unique name at byte
// 0, the user name at byte 256. The test owns them; sample settings only
// point at them and are detached before they are destroyed.
class Cameras {
public:
    ~Cameras() { Detach(); }
    void Give(SKzSampleSetting& s, const wchar_t* userName, const wchar_t* uniqueName = nullptr)
    {
        m_objects.emplace_back(KZ_CAMERA_OBJECT_MIN_BYTES / sizeof(wchar_t), L'\0');
        wchar_t* o = m_objects.back().data();
        std::wcsncpy(o + 256 / sizeof(wchar_t), userName, 127);
        std::wcsncpy(o, uniqueName ? uniqueName : userName, 63);
        s.pCameraSetting = o;
        m_users.push_back(&s);
    }
    void Detach()
    {
        for (SKzSampleSetting* s : m_users) s->pCameraSetting = nullptr;
        m_users.clear();
    }

private:
    std::vector<std::vector<wchar_t>> m_objects;
    std::vector<SKzSampleSetting*> m_users;
};

// Zone, locale, unit names and empty host tables pinned for every test.
class TextInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("TZ");
        m_hadZone = old != nullptr;
        if (m_hadZone) m_oldZone = old;
        PinZone("XST-2");   // two hours east of UTC, no daylight saving
        m_oldLocale = setlocale(LC_ALL, nullptr);
        setlocale(LC_ALL, "C");
        Units_Initialize();
        SKzSampleSetting::sGrabberHandlers = SKzSettingsHandlers();
        SKzSampleSetting::sDeviceHandlers = SKzSettingsHandlers();
    }
    void TearDown() override
    {
        m_cameras.Detach();
        setlocale(LC_ALL, m_oldLocale.c_str());
        if (m_hadZone) setenv("TZ", m_oldZone.c_str(), 1);
        else unsetenv("TZ");
        tzset();
        CKzDateTime::RefreshZoneInfo();
    }
    static void PinZone(const char* zone)
    {
        setenv("TZ", zone, 1);
        tzset();
        CKzDateTime::RefreshZoneInfo();
    }
    // Planes of n planes sharing sample setting 0 unless told otherwise.
    static void Planes(SKzPictureMetadata& md, unsigned planes, unsigned samples)
    {
        SKzPicturePlanes& ps = md.sPicturePlanes;
        SKzPicturePlanes::Free(ps);
        ASSERT_EQ(0, SKzPicturePlanes::Alloc(ps, planes, samples));
        ps.uiCompCount = 0;
        for (unsigned i = 0; i < planes; ++i) {
            ps.pPlanes[i].uiSampleIndex = i < samples ? i : 0;
            ps.uiCompCount += ps.pPlanes[i].uiCompCount;
        }
    }
    Cameras m_cameras;
    bool m_hadZone = false;
    std::string m_oldZone;
    std::string m_oldLocale;
};

struct TreeFree {
    void operator()(SKzExperiment* e) const { SKzExperiment::FreeRecursive(e); }
};
typedef std::unique_ptr<SKzExperiment, TreeFree> Tree;

// One level of a loop type with that many items (time loop: period in ms).
inline SKzExperiment* Level(SKzExperiment::EKzExperimentType type, u32 items, u32 children = 0)
{
    SKzExperiment* lv = nullptr;
    EXPECT_EQ(0, SKzExperiment::Alloc(&lv));
    if (type == SKzExperiment::eExpNETimeLoop) {
        EXPECT_EQ(0, SKzExperiment::Init(*lv, type, false, 0, 2, children, 1));
        lv->uLoopPars.sNETimeLoop.pPeriod[0].uiCount = items;
        lv->uLoopPars.sNETimeLoop.pPeriod[1].uiCount = 1;
    } else {
        EXPECT_EQ(0, SKzExperiment::Init(*lv, type, false, items, 0, children, 1));
    }
    lv->uiRepeatCount = 1;
    return lv;
}

// Levels chained outermost first.
inline SKzExperiment* Chain(std::vector<SKzExperiment*> levels)
{
    SKzExperiment* root = nullptr;
    for (size_t i = 0; i < levels.size(); ++i)
        EXPECT_EQ(0, CKzExperimentAPI::AddExperimentLevel(root, levels[i], (u32)i));
    return root;
}

} // namespace textinfo
