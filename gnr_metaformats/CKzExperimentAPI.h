// Static queries over an experiment tree (SKzExperiment levels): which child
// serves a loop item, loop sizes along a path, the frame count of a whole
// tree, walks, insertion of levels, repair to the frames actually written,
// sequence index <-> loop positions and Z-stack geometry.
//
// Items of a level are dealt to its children in turn, uiRepeatCount items to
// each; an only child serves every item. Frame counts saturate at 4294967295;
// repeat sums are 64-bit. A null child or a repeat sum of 0 never divides:
// such a level or period counts 0 frames.
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_metaformats/SKzExperiment.h"

class CKzByteArray;
struct SKzPicturePlanes;

// Callback of WalkExperiment: a non-zero result ends the walk with it.
typedef int (*KzExperimentWalkCallback)(const SKzExperiment* level, kz_uint32 depth, void* context);

// Context {largest count, home index}; -9 for a null level or context.
KZ_EXPORT int getZStackSizeMaxCallback(const SKzExperiment* level, kz_uint32 depth, void* context);
// Context: three CKzStringW (first camera, second camera, merge mode);
// -9 for a null level or context, or a third camera.
KZ_EXPORT int EnumerateCameras(const SKzExperiment* level, kz_uint32 depth, void* context);
// Context: entry 0 the home index of a Z stack, entry 1 + depth the largest
// loop size met at that depth (the array must cover the deepest level).
KZ_EXPORT int getSizeMaxCallback(const SKzExperiment* level, kz_uint32 depth, void* context);

class KZ_EXPORT CKzExperimentAPI {
public:
    typedef SKzExperiment::EKzExperimentType EType;

    // Sum of the children's repeat counts; 1 when that sum is 0 or the child
    // array holds no child; 0 without a child array or with a null child.
    static kz_uint64 GetNextLevelPeriodicity(const SKzExperiment* level);
    // Sum of a per-period list's repeat counts; 0 for a null or empty list or
    // a null child.
    static kz_uint64 GetPeriodicity(const SKzExperiment::SKzExpNETimeLoop::SKzSubLoopsDefinition* list);
    // The child level serving a loop item; null when none.
    static SKzExperiment* GetNextLevelExperiment(SKzExperiment* level, kz_uint32 index);
    static const SKzExperiment* GetNextLevelExperiment(const SKzExperiment* level, kz_uint32 index);
    // Levels on the path taking item 0 everywhere; 0 for null.
    static kz_uint32 GetExperimentCount(const SKzExperiment* tree);
    // 0 found; -13 absent; -100 the type is on more than one level of the path
    // (the out arguments keep the first); -4 null tree.
    static int FindExperiment(const SKzExperiment* tree, EType type, const kz_uint32* positions, kz_uint32 count,
                              kz_uint32* depth, SKzExperiment** level);
    // Valid item count of a level (0 for null).
    static kz_uint32 GetLoopSize(const SKzExperiment* level);
    static int GetLoopSize(const SKzExperiment* tree, EType type, const kz_uint32* positions, kz_uint32 count,
                           kz_uint32* size);
    // Size of the level at a depth of the path; -13 when the path is shorter.
    static int GetLoopSize(const SKzExperiment* tree, kz_uint32 depth, const kz_uint32* positions, kz_uint32 count,
                           kz_uint32* size);
    static kz_uint32 GetLoopSizeForDisplay(const SKzExperiment* level);
    static kz_uint32 GetAllCustLoopsSize(const SKzExperiment* tree, const kz_uint32* positions, kz_uint32 count);
    static kz_uint32 GetAllZStackLoopsSize(const SKzExperiment* tree, const kz_uint32* positions, kz_uint32 count);
    static kz_uint32 GetAllXYPosLoopsSize(const SKzExperiment* tree, const kz_uint32* positions, kz_uint32 count);
    static kz_uint32 GetAllTimeLoopsSize(const SKzExperiment* tree, const kz_uint32* positions, kz_uint32 count);
    // Frames of the whole experiment; 0 for null.
    static kz_uint32 GetAllImagesCount(const SKzExperiment* tree);
    // True when no level has more than one child.
    static bool IsSimpleExperiment(const SKzExperiment* tree);
    // First non-zero callback result, else 0; -4 for a null callback.
    static int WalkExperiment(const SKzExperiment* level, KzExperimentWalkCallback callback, void* context,
                              kz_uint32 depth);
    // Inserts a level; at depth 0 it becomes the root over the old one.
    // 0; -4 for a null level (or null root pointer); -3.
    static int AddExperimentLevel(SKzExperiment*& root, SKzExperiment* level, kz_uint32 depth);
    static int AddExperimentLevel(SKzExperiment** root, SKzExperiment* level, kz_uint32 depth);
    // Largest Z-stack count in the tree; its home index into *home.
    static kz_uint32 GetZStackSizeMax(const SKzExperiment* tree, kz_uint32* home);
    // Fits the level's counts to the frames written; a level without children
    // and without per-item arrays takes one item per frame written. 0; -9
    // for null.
    static int RepairExperiment(SKzExperiment* level, kz_uint32 written);
    // The repair, then for a time loop the interval statistics rebuilt from
    // the frames' times (doubles in frame order). -9 for null.
    static int RepairExperimentEx(SKzExperiment* level, kz_uint32 written, const CKzByteArray& times);

    // Loop positions (one entry per level from the root) to a sequence index.
    // A spectral level follows the child with the most items among those
    // serving its channels. Positions that end above the leaf count one
    // frame per item of the last level given (its bare entry). 0; -4 an
    // entry out of range of a bounded level (or the frame it names does not
    // exist).
    static int CalcIdxFromPos(const SKzExperiment* tree, const kz_uint32* positions, kz_uint32 levels,
                              kz_uint32& index);
    static int CalcIdxFromPos_Impl(const SKzExperiment* level, kz_uint32 levels, kz_uint32& size,
                                   const kz_uint32* positions, kz_uint32& index);
    // Sequence index to loop positions; *count receives the level count. With
    // null positions only the count. 0; -4 null tree or null child; -9 index
    // beyond the frames, or a level past the level count (nothing written
    // there). The leaf entry is unbounded: readers bound it themselves.
    static int CalcPosFromIdx(const SKzExperiment* tree, kz_uint32 index, kz_uint32* positions, kz_uint32* count);
    static int CalcPosFromIdx_Impl(const SKzExperiment* level, kz_uint32 levels, kz_uint32 index,
                                   kz_uint32* positions);
    // 0; -4 null argument or not a Z stack; -9 no step can be derived.
    static int GetZStackStepSize(const SKzExperiment* level, double* step);
    static double GetZStackFirstMovePosition(const SKzExperiment::SKzExpZStackLoop& loop, double currentZ);
    static double GetZStackPositionForDisplay(const SKzExperiment::SKzExpZStackLoop& loop, kz_uint32 index);
    // Sequence index of the first frame at the Z home. 0; -9 without Z stack.
    static int GetFirstZStackHomePosition(const SKzExperiment* tree, kz_uint32* index);

    // Cameras used by the spectral levels (1 or 2); the first falls back to
    // the root's camera name; *merged: the cameras' images are merged.
    static kz_uint32 GetCameraDescription(const SKzExperiment* tree, CKzStringW* first, CKzStringW* second,
                                          bool* merged);
    // The stitching description of the deepest level on the item-0 path that
    // has one, chosen by camera (null or empty: the root's camera).
    // 0; -9 null tree or no description.
    static int GetLargeImage(const SKzExperiment* tree, SKzExperiment::SKzLIDesc* desc, const wchar_t* camera);

    // The union of the channels of every spectral level, allocated for the
    // caller (FreeRecursive), all flags as found; null without spectral
    // levels. 0; -4 null tree.
    static int GetSupersetSpectExp(const SKzExperiment* tree, SKzExperiment*& superset);
    // Merges the trees' channels into the superset already there (or none).
    static int GetSupersetSpectExp(SKzExperiment* const* trees, kz_uint32 count, SKzExperiment*& superset);
    // The valid channels of the superset into an empty channel set. 0; -4
    // without spectral level; the superset's failure.
    static int GetSpectPlanes(const SKzExperiment* tree, SKzPicturePlanes& planes);
    static int GetSpectCompCount(const SKzExperiment* tree, kz_uint32& count);
    // The sequence index of the frame holding each component of the
    // superset's valid channels at the given loop positions (levels
    // entries), 4294967295 where none does. A level's channels match the
    // superset's by identity, the n-th repeat of a channel the n-th
    // superset channel like it. out holds GetSpectCompCount entries; nothing
    // is written beyond them. 0; -4 null argument, a null child on the way
    // or no spectral level (nothing written); -9 a level without children
    // above the spectral one, or a position entry past levels.
    static int GetCompSeqIndexes(const SKzExperiment* tree, const kz_uint32* positions, kz_uint32 levels,
                                 kz_uint32* out);
    // The walk of GetCompSeqIndexes from a level at a depth; positions are
    // changed during the walk and restored.
    static int GetCompIndexes_Impl(const SKzExperiment* tree, const SKzExperiment* level,
                                   const SKzExperiment* superset, kz_uint32* positions, kz_uint32 depth,
                                   kz_uint32 levels, kz_uint32* out);
    // True when every spectral level holds the superset's channels.
    static bool HasSameLambdaChannels(const SKzExperiment* tree);
    static bool HasSameLambdaChannels_Impl(const SKzExperiment* level, const SKzExperiment* superset);

    // Home index of a Z stack (tolerance in steps). Always 0.
    static int GetZStackHomePosition(const SKzExperiment::SKzExpZStackLoop& loop, kz_uint32* home,
                                     double tolerance);
};
