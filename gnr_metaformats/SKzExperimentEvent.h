// One event of an acquisition (an autofocus, a user bookmark, a pause, a
// stimulation, a hardware error, ...) and the event log that keeps them in
// time order.
//
// An event is a plain structure without constructor or destructor: Init fills
// one that holds nothing, Free releases what it holds. It owns its two texts
// (arrays of exactly their length plus the terminator, released as arrays)
// and its optional stimulation description.
#pragma once

#include "gnr_system/kz_base.h"

class CKzVariant;
class CKzLiteVariantW;
class CKzLiteVariantR;

struct KZ_EXPORT SKzExperimentEvent {
    // What an event means; files carry any 32-bit value. Values 2 to 5 are
    // the user events of an older generation.
    enum EMeaning : kz_uint32 {
        eMeaningUnknown = 0,
        eMeaningAutofocus = 1,
        eMeaningUser1Old = 2,
        eMeaningUser2Old = 3,
        eMeaningUser3Old = 4,
        eMeaningUser4Old = 5,
        eMeaningCommandExecuted = 7,
        eMeaningExperimentPaused = 9,
        eMeaningExperimentResumed = 10,
        eMeaningExperimentStoppedByUser = 11,
        eMeaningNextPhaseMovedByUser = 13,
        eMeaningExperimentPausedForRefocusing = 14,
        eMeaningStimulation = 15,
        eMeaningExternalStimulation = 16,
        eMeaningUser1 = 33,
        eMeaningUser2 = 34,
        eMeaningUser3 = 35,
        eMeaningUser4 = 36,
        eMeaningUser5 = 37,
        eMeaningUser6 = 38,
        eMeaningUser7 = 39,
        eMeaningUser8 = 40,
        eMeaningBeforeCapture = 41,
        eMeaningAfterCapture = 42,
        eMeaningNoAcquisitionPhaseStart = 44,
        eMeaningNoAcquisitionPhaseEnd = 45,
        eMeaningHardwareError = 46,
        eMeaningQStorm = 47,
        eMeaningIncubationInfo = 48,
        eMeaningIncubationError = 49,
        eMeaningInteractiveFinish = 50,
        eMeaningPauseExperiment = 51,
    };

    enum EStimulationType : kz_uint32 {
        eStimNone = 0,
        eStimSequential = 1,
        eStimParallel = 2,
        eStimManual = 3,
        eStimBegin = 4,
        eStimEnd = 5,
    };

    struct KZ_EXPORT SKzStimulationDescription {
        EStimulationType eType;
        kz_uint32 uiLoopIdx;
        kz_uint32 uiPosition;

        // Member "pStimulation" of an event node: a plain list of "eType",
        // "uiLoopIdx", "uiPosition". Nothing for a null description. 0.
        static int SaveToVariant(CKzVariant& eventNode, const SKzStimulationDescription* d);
        // Level "S" with "T", "L", "P" in the open level. Nothing for null. 0.
        static int SaveToLiteVariant(CKzLiteVariantW& writer, const SKzStimulationDescription* d);
        // A new description (or null when the event node has none) stored
        // through the pointer; -9 for a null pointer to the pointer.
        static int LoadFromVariant(SKzStimulationDescription** d, const CKzVariant& eventNode);
        static int LoadFromLiteVariant(SKzStimulationDescription** d, CKzLiteVariantR& reader);
    };

    double dTime;
    double dTime2;                     // 0: none
    EMeaning eMeaning;
    wchar_t* wsDescription;            // owned; null: none
    wchar_t* wsData;                   // owned; null: none
    kz_uint32 uiID;                    // handed out by the log
    SKzStimulationDescription* pStimulation;   // owned; null: none
    kz_uint32 uiReserved[2];

    // Texts by meaning (52 entries) and bookmark colours (0x00BBGGRR).
    static const wchar_t* const _pDescription[52];
    static const kz_uint32 s_rgbBookmark[52];

    // Fills an event that holds nothing: time, meaning, own copies of the
    // texts (null stays null), ID; no second time, no stimulation. 0.
    static int Init(SKzExperimentEvent& e, double dTime, EMeaning eMeaning, const wchar_t* wsDescription,
                    const wchar_t* wsData, kz_uint32 uiID);
    // Replaces both texts by own copies (null: none). 0.
    static int SetDescription(SKzExperimentEvent& e, const wchar_t* wsDescription, const wchar_t* wsData);
    // Type 0 removes the stimulation; any other type sets it. 0.
    static int SetStimulation(SKzExperimentEvent& e, EStimulationType eType, kz_uint32 uiLoopIdx,
                              kz_uint32 uiPosition);
    // Releases texts and stimulation and zeroes time, meaning and ID. 0.
    static int Free(SKzExperimentEvent& e);
    // Copies everything, texts and stimulation as own copies.
    SKzExperimentEvent& operator=(const SKzExperimentEvent& other);

    // Node of run type "RKzExperimentEvent". 0.
    static int SaveToVariant(CKzVariant& variant, const SKzExperimentEvent& e);
    // Records "T", "T2", "M", "D", "A", "I", "S" in the open level. 0.
    static int SaveToLiteVariant(CKzLiteVariantW& writer, const SKzExperimentEvent& e);
    // Fill an event that holds nothing. -4 for a node of another run type
    // (the event is untouched).
    static int LoadFromVariant(SKzExperimentEvent& e, const CKzVariant& variant);
    static int LoadFromLiteVariant(SKzExperimentEvent& e, CKzLiteVariantR& reader);
};

// Order of two events by time for the standard sort: -1, 0 or 1; a NaN time
// sorts after every number, so the order stays a strict weak one.
KZ_EXPORT int ExperimentEventCompare(const void* a, const void* b);

// Bounded lookups of the tables above (internal): an empty text and colour 0
// for a meaning past the table, null for a stimulation type past 5.
const wchar_t* KzExperimentEventMeaningText(kz_uint32 meaning);
kz_uint32 KzExperimentEventMeaningColor(kz_uint32 meaning);
const wchar_t* KzExperimentEventStimulationText(kz_uint32 type);
// The text under which an event is reported: the text of its stimulation
// type for a stimulation event (meaning 15) that has one and a known type,
// else the text of its meaning.
const wchar_t* KzExperimentEventText(const SKzExperimentEvent& e);

// The time-sorted event log of one acquisition.
struct KZ_EXPORT SKzExperimentRecord {
    kz_uint32 uiCount;                 // events in the log
    kz_uint32 uiLastID;                // last identifier handed out
    SKzExperimentEvent* pFirstEvent;   // CKzAlloc block of uiCount rounded up to 64 events

    SKzExperimentRecord();
    ~SKzExperimentRecord();
    SKzExperimentRecord(const SKzExperimentRecord&) = delete;
    SKzExperimentRecord& operator=(const SKzExperimentRecord&) = delete;

    // Frees every event and the array; count and last ID become 0.
    static void Free(SKzExperimentRecord& r);
    // Inserts a copy in time order under a new identifier, which it returns
    // (0 when memory runs out; the log is then unchanged).
    static kz_uint32 AddEvent(SKzExperimentRecord& r, const SKzExperimentEvent& e, kz_uint32* index);
    static bool FindEvent(SKzExperimentRecord& r, kz_uint32 id, kz_uint32* index);
    // Position of the first event with that ID, its copy assigned to *e when
    // e is not null; -13 when none.
    static int GetEvent(SKzExperimentRecord& r, kz_uint32 id, SKzExperimentEvent* e);
    // Assigns a copy over the event with that ID (no re-sort); -13.
    static int SetEvent(SKzExperimentRecord& r, kz_uint32 id, const SKzExperimentEvent& e);
    // -13 when no event has that ID. The last ID stays until the log empties.
    static int RemoveEvent(SKzExperimentRecord& r, kz_uint32 id);
    // First event not earlier than the time, else the last position; 0 when empty.
    static kz_uint32 FindFirst(SKzExperimentRecord& r, double time);
    // Last event earlier than the time; -9 when none.
    static int GetPrevious(SKzExperimentRecord& r, double time, kz_uint32* index);
    // First event at or after the time, skipping one that lies at most 0.01
    // after it; -9 when none.
    static int GetNext(SKzExperimentRecord& r, double time, kz_uint32* index);
    // Merge by time into dst: src copied (Copy) or moved (Merge, src ends
    // empty), its events numbered on from dst's last ID. 0; -3 when memory
    // runs out (nothing changes). dst == src does nothing.
    static int Copy(SKzExperimentRecord& dst, const SKzExperimentRecord& src);
    static int Merge(SKzExperimentRecord& dst, SKzExperimentRecord& src);

    static int SaveToVariant(CKzVariant& variant, const SKzExperimentRecord& r);
    // Level "RKzExperimentRecord"; -9 when the writer refuses it.
    static int SaveToLiteVariant(CKzLiteVariantW& writer, const SKzExperimentRecord& r);
    // -4 for another run type or a "pFirstEvent" that is no plain list.
    static int LoadFromVariant(SKzExperimentRecord& r, const CKzVariant& variant);
    // -9 when the level "RKzExperimentRecord" is missing. Keeps stored order
    // and identifiers; holds only the event levels stored (at most "uiCount").
    static int LoadFromLiteVariant(SKzExperimentRecord& r, CKzLiteVariantR& reader);
};
