// A host builds a small experiment (a time loop over two stage positions) and
// an event log, stores both in the lite-variant form and reads them back.
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzLiteVariant.h"

#include <cstdio>

int main()
{
    // Time loop of 10 points every 500 ms, with an XY loop of two positions inside.
    SKzExperiment* root = nullptr;
    SKzExperiment* xy = nullptr;
    SKzExperiment::Alloc(&root);
    SKzExperiment::Alloc(&xy);
    SKzExperiment::Init(*root, SKzExperiment::eExpTimeLoop, false, 10, 0, 1, 0);
    root->uLoopPars.sTimeLoop.dPeriod = 500;
    root->uLoopPars.sTimeLoop.dDuration = 4500;
    SKzExperiment::Init(*xy, SKzExperiment::eExpXYPosLoop, true, 2, 0, 0, 0);
    SKzExperiment::SKzExpXYPosLoop& pos = xy->uLoopPars.sXYPosLoop;
    pos.dPosX[0] = 1000;
    pos.dPosY[0] = 2000;
    pos.pPosName[0] = L"well A1";
    pos.dPosX[1] = 1900;
    pos.dPosY[1] = 2000;
    pos.pPosName[1] = L"well A2";
    root->ppNextLevelEx[0] = xy;

    SKzExperimentRecord log;
    const double times[] = {0, 1250, 600};
    const SKzExperimentEvent::EMeaning meanings[] = {SKzExperimentEvent::eMeaningUser1,
                                                     SKzExperimentEvent::eMeaningAutofocus,
                                                     SKzExperimentEvent::eMeaningExperimentPaused};
    for (int i = 0; i < 3; ++i) {
        SKzExperimentEvent e{};
        SKzExperimentEvent::Init(e, times[i], meanings[i], i == 0 ? L"start" : nullptr, nullptr, 0);
        SKzExperimentRecord::AddEvent(log, e, nullptr);
        SKzExperimentEvent::Free(e);
    }

    // Store both in one blob: the experiment level, then the event log.
    CKzLiteVariantW w;
    w.LevelBegin(L"Acquisition");
    SKzExperiment::SaveToLiteVariant(w, *root);
    SKzExperimentRecord::SaveToLiteVariant(w, log);
    w.LevelEnd();
    CKzLiteVariantR r;
    w.Finalize(r);
    std::printf("stored %lu bytes\n", (unsigned long)r.GetSize());

    r.Reset();
    r.LevelBegin(L"Acquisition");
    SKzExperiment back;
    SKzExperimentRecord backLog;
    SKzExperiment::LoadFromLiteVariant(back, r);
    SKzExperimentRecord::LoadFromLiteVariant(backLog, r);
    r.LevelEnd();

    const SKzExperiment* inner = back.uiNextLevelCount ? back.ppNextLevelEx[0] : nullptr;
    std::printf("time loop: %u points every %.0f ms; positions: %u (%ls, %ls)\n", back.uLoopPars.uiCount,
                back.uLoopPars.sTimeLoop.dPeriod, inner ? inner->uLoopPars.uiCount : 0,
                inner ? inner->uLoopPars.sXYPosLoop.pPosName[0].GetString() : L"-",
                inner ? inner->uLoopPars.sXYPosLoop.pPosName[1].GetString() : L"-");
    std::printf("tree equal after reading: %s\n", SKzExperiment::IsEqual(*root, back, true, true) ? "yes" : "no");
    for (kz_uint32 i = 0; i < backLog.uiCount; ++i) {
        const SKzExperimentEvent& e = backLog.pFirstEvent[i];
        std::printf("event %u at %.0f ms: %ls%s%ls\n", e.uiID, e.dTime,
                    SKzExperimentEvent::_pDescription[e.eMeaning < 52 ? e.eMeaning : 0],
                    e.wsDescription ? " - " : "", e.wsDescription ? e.wsDescription : L"");
    }
    SKzExperiment::FreeRecursive(root);
    return 0;
}
