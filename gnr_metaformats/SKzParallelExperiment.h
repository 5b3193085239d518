// Timed tasks that run beside the acquisition (a stimulation, for instance):
// each task has an ID and a list of events; an event starts at a time or when
// a trigger fires and repeats a number of times with a step.
#pragma once

#include "gnr_system/kz_base.h"

class CKzVariant;
class CKzLiteVariantW;
class CKzLiteVariantR;

struct KZ_EXPORT SKzParallelExperiment {
    struct SKzParallelEvent {
        double dTimeStart;
        double dTimeDuration;
        double dTimeStep;
        kz_uint32 uiCount;
        kz_uint32 uiTriggerID;   // ID_TRIGGER_NONE: started by its time
        kz_uint32 uiROIs;
        wchar_t sCommand[256];
    };

    struct SKzParallelTask {
        kz_uint32 uiTaskID;
        kz_uint32 uiEventCount;
        SKzParallelEvent* pEvents;   // CKzAlloc block, owned; null when none
    };

    kz_uint32 uiTaskCount;
    SKzParallelTask* pTasks;         // CKzAlloc block, owned; null when none

    static const kz_uint32 ID_TASK_STIMULATION;
    static const kz_uint32 ID_TRIGGER_NONE;
    static const kz_uint32 ID_TRIGGER_STIMULATION_MANUAL;
    static const kz_uint32 ID_TRIGGER_CUSTOM;

    SKzParallelExperiment();
    ~SKzParallelExperiment();
    SKzParallelExperiment(const SKzParallelExperiment&) = delete;
    SKzParallelExperiment& operator=(const SKzParallelExperiment&) = delete;

    // Releases every task's events and the task array. 0.
    static int Clear(SKzParallelExperiment& e);
    // 0 with the task's index; -13 when no task has that ID.
    static int FindTask(const SKzParallelExperiment& e, kz_uint32 taskID, kz_uint32* index);
    // Time search among the events started by time (see AddEvent); 0 with an
    // index, -13 when none fits.
    static int FindEvent(const SKzParallelTask& task, double time, kz_uint32* index, int start);
    // 0 with the index of the first event with that trigger; -13 when none.
    static int FindTriggeredEvent(const SKzParallelTask& task, kz_uint32 triggerID, kz_uint32* index);
    // Inserts an event into the task (created when absent): before the first
    // event started by time at the same time or later, else at the end. The
    // command keeps at most 255 characters. 0 with the index; -3 when an array
    // cannot grow (the tasks and events held stay).
    static int AddEvent(SKzParallelExperiment& e, kz_uint32 taskID, double start, double duration, double step,
                        kz_uint32 count, kz_uint32 triggerID, const wchar_t* command, kz_uint32 rois,
                        kz_uint32* index);
    // 0; -13 for an absent task or an index not below the event count.
    static int RemoveEvent(SKzParallelExperiment& e, kz_uint32 taskID, kz_uint32 eventIndex);
    // 0; -13 for an absent task.
    static int RemoveTask(SKzParallelExperiment& e, kz_uint32 taskID);
    // Deep copy; -3 when memory runs out. Copying onto itself does nothing.
    static int Copy(SKzParallelExperiment& dst, const SKzParallelExperiment& src);
    // Tasks matched by ID, events pair by pair in order.
    static bool IsEqual(const SKzParallelExperiment& a, const SKzParallelExperiment& b);

    static int SaveToVariant(CKzVariant& variant, const SKzParallelExperiment& e);
    // 0; -9 when "uiTaskCount" is present without "pTasks"; -3.
    static int LoadFromVariant(SKzParallelExperiment& e, const CKzVariant& variant);
    static int SaveToLiteVariant(CKzLiteVariantW& writer, const SKzParallelExperiment& e);
    // Tasks and events only as many as stored (never more than the counts). 0; -3.
    static int LoadFromLiteVariant(SKzParallelExperiment& e, CKzLiteVariantR& reader);
};
