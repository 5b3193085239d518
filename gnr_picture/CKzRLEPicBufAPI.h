// Run-length binary pictures: a painted form (labelled objects, each a contiguous
// record of rows and runs) and a non-painted form (a flat run list indexed by row).
// The object block is also the stored byte layout, so every record here is packed
// and its offsets are fixed.
#pragma once

#include "gnr_system/kz_base.h"

#include <cstddef>
#include <vector>

struct SKzPicBuf;
struct SKzBinPicBuf;

#pragma pack(push, 1)

// One run of set pixels in a row of an object record.
struct SKzSegment {
    u32 uiX;      // first pixel
    u32 uiLength; // pixels, at least 1
};

// A row of an object record; its runs follow directly.
struct SKzRowSegment {
    u32 uiY;
    u32 uiRunCount; // at least 1
};

// Object record header (36 bytes), then the rows, then the custom bytes.
struct SKzRLEObject {
    u32 uiId;
    i32 iLeft;
    i32 iTop;
    i32 iRight;
    i32 iBottom;
    u32 uiSize;          // bytes of the whole record, custom bytes included
    u32 uiRowCount;
    u32 uiLastRowOffset; // from the start of the record
    u32 uiState;         // 0x40 hidden, 0x01 preferred by hit tests, 0x800 not rectangular
};

// Non-painted form: one run, ordered by row then column.
struct SKzRLERun {
    u32 uiLabel;
    u32 uiY;
    u32 uiX;
    u32 uiLength;
};

// Non-painted form: where a row's runs start in the run list.
struct SKzRLERowEntry {
    u32 uiCount;
    u32 uiFirst;
};

struct SKzRLEPicBuf {
    u32 uiWidth;
    u32 uiHeight;
    u32 uiObjectCount;
    u32 uiDataBytes;
    u32 uiLastObjectOffset;
    u32 uiCustomDataBytes;
    SKzRLEObject* pObjects; // painted form: the object block (CKzAlloc)
    bool bPainted;
    u32 uiRunCount;
    u32 uiRunBytes;
    SKzRLERun* pRuns;
    SKzRLERowEntry* pRowIndex;
    u32 uiLegacyWord;
};

#pragma pack(pop)

static_assert(sizeof(SKzSegment) == 8);
static_assert(offsetof(SKzSegment, uiLength) == 4);
static_assert(sizeof(SKzRowSegment) == 8);
static_assert(offsetof(SKzRowSegment, uiRunCount) == 4);
static_assert(sizeof(SKzRLEObject) == 36);
static_assert(offsetof(SKzRLEObject, iLeft) == 4);
static_assert(offsetof(SKzRLEObject, iTop) == 8);
static_assert(offsetof(SKzRLEObject, iRight) == 12);
static_assert(offsetof(SKzRLEObject, iBottom) == 16);
static_assert(offsetof(SKzRLEObject, uiSize) == 20);
static_assert(offsetof(SKzRLEObject, uiRowCount) == 24);
static_assert(offsetof(SKzRLEObject, uiLastRowOffset) == 28);
static_assert(offsetof(SKzRLEObject, uiState) == 32);
static_assert(sizeof(SKzRLERun) == 16);
static_assert(offsetof(SKzRLERun, uiY) == 4);
static_assert(offsetof(SKzRLERun, uiX) == 8);
static_assert(offsetof(SKzRLERun, uiLength) == 12);
static_assert(sizeof(SKzRLERowEntry) == 8);
static_assert(offsetof(SKzRLERowEntry, uiFirst) == 4);
static_assert(offsetof(SKzRLEPicBuf, uiHeight) == 4);
static_assert(offsetof(SKzRLEPicBuf, uiObjectCount) == 8);
static_assert(offsetof(SKzRLEPicBuf, uiDataBytes) == 12);
static_assert(offsetof(SKzRLEPicBuf, uiLastObjectOffset) == 16);
static_assert(offsetof(SKzRLEPicBuf, uiCustomDataBytes) == 20);
static_assert(offsetof(SKzRLEPicBuf, pObjects) == 24);
static_assert(offsetof(SKzRLEPicBuf, bPainted) == 32);
static_assert(offsetof(SKzRLEPicBuf, uiRunCount) == 33);
static_assert(offsetof(SKzRLEPicBuf, uiRunBytes) == 37);
static_assert(offsetof(SKzRLEPicBuf, pRuns) == 41);
static_assert(offsetof(SKzRLEPicBuf, pRowIndex) == 49);
static_assert(offsetof(SKzRLEPicBuf, uiLegacyWord) == 57);
static_assert(sizeof(SKzRLEPicBuf) == 61);

class KZ_EXPORT CKzRLEPicBufAPI {
public:
    // Life cycle
    static void Init(SKzRLEPicBuf* pic, unsigned customBytes, bool painted);
    static void Reinit(SKzRLEPicBuf* pic, unsigned width, unsigned height);
    static void Free(SKzRLEPicBuf* pic);
    static void ForceEqualSizeAndType(SKzRLEPicBuf* dst, SKzRLEPicBuf* src);
    static void ForceEqualSizeAndTypeIfDestEmpty(SKzRLEPicBuf* dst, SKzRLEPicBuf* src);
    static kz_result Copy(SKzRLEPicBuf* dst, const SKzRLEPicBuf* src);
    static bool IsEqual(SKzRLEPicBuf* a, SKzRLEPicBuf* b);
    static bool IsEqualSize(SKzRLEPicBuf* a, SKzRLEPicBuf* b);
    static bool IsEqualType(SKzRLEPicBuf* a, SKzRLEPicBuf* b);

    // Walks and look-ups over the painted form
    static SKzRLEObject* GetNextRLEObject(const SKzRLEPicBuf* pic, SKzRLEObject* obj);
    static SKzRowSegment* GetNextRowSegment(SKzRLEObject* obj, SKzRowSegment* row);
    static void* GetCustomDataPtr(SKzRLEObject* obj);
    static void* FindObjectsCustomDataByObjectID(SKzRLEPicBuf* pic, unsigned id);
    static SKzRLEObject* FindObjectByObjectID(SKzRLEPicBuf* pic, unsigned id);
    static SKzRLEObject* FindObjectByObjectIDCycle(SKzRLEPicBuf* pic, SKzRLEObject* start, unsigned id);
    static SKzRLEObject* FindObjectByIndex(SKzRLEPicBuf* pic, unsigned index);

    // Hit tests
    static bool HitTest(SKzRLEPicBuf* pic, unsigned x, unsigned y, unsigned* index, SKzRLEObject** obj);
    static bool HitTestVisible(SKzRLEPicBuf* pic, unsigned x, unsigned y, unsigned* index, SKzRLEObject** obj);
    static bool HitTestRLEObject(SKzRLEObject* obj, unsigned x, unsigned y);
    static bool HitTestVisibleEx(SKzRLEPicBuf* pic, double x, double y, double zoom, unsigned* index,
                                 SKzRLEObject** obj, double* distance);

    // Entries kept for hosts that call them; they do nothing.
    static kz_result TraceRLE(SKzRLEPicBuf* pic);
    static void ContourPoints(SKzRLEPicBuf* pic);
    static void ContourPoints(SKzRLEObject* obj);
    static void ContourPoints(SKzRLEObject* obj, unsigned long& count);

    // Labelling of a one-component picture (non-zero samples, or samples equal to
    // value); connectivity 4 or 8 (anything else).
    static kz_result ConvertPicBufToPaintedRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic, unsigned connectivity);
    static kz_result ConvertPicBufToPaintedRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic, unsigned value,
                                               unsigned connectivity);

    // One object per distinct non-zero value of an 8-, 16- or 32-bit label picture,
    // ids 1..N in ascending value.
    static kz_result ConvertIndexedPicBufToPaintedRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic);
    // Object i for every label i of 1..maxLabel (empty objects for absent labels).
    static kz_result ConvertIndexedPicBufToPaintedRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic, unsigned maxLabel);
    // Set pixels of a 1-bit picture, labelled with 8-connectivity or as a run list.
    static kz_result ConvertBinPicBufToPaintedRLE(SKzRLEPicBuf* rle, SKzBinPicBuf* bin);
    static kz_result ConvertBinPicBufToNonPaintedRLE(SKzRLEPicBuf* rle, SKzBinPicBuf* bin);
    static kz_result ConvertPictureToRLE(SKzRLEPicBuf* rle, SKzBinPicBuf* bin);
    // All set pixels of a 1-bit picture as one record (id 0) in *obj, reallocated;
    // the caller releases it with CKzAlloc::Free.
    static kz_result ConvertBinPicBufToRLEObject(SKzRLEObject** obj, SKzBinPicBuf* bin);

    // Painting into a cleared one-component picture: value, else each object's id.
    static kz_result ConvertRLEToPicBuf(SKzPicBuf* pic, const SKzRLEPicBuf* rle, unsigned value);
    static kz_result ConvertRLEToPicBuf(SKzPicBuf* pic, const SKzRLEPicBuf* rle);
    // Visible objects (without state bit 0x40) over the picture as it is; 8 or 16 bits.
    static kz_result ConvertVisibleRLEToPicBuf(SKzPicBuf* pic, SKzRLEPicBuf* rle, unsigned value);
    static kz_result ConvertVisibleRLEToPicBuf(SKzPicBuf* pic, SKzRLEPicBuf* rle);
    // 1-bit pictures, cleared first; ExtractRLEObjectToBinPicBuf adds one object.
    static kz_result ConvertRLEToBinPicBuf(SKzBinPicBuf* bin, const SKzRLEPicBuf* rle);
    static kz_result ConvertVisibleRLEToBinPicBuf(SKzBinPicBuf* bin, SKzRLEPicBuf* rle);
    static kz_result ConvertAndFilterRLEToBinPicBuf(SKzBinPicBuf* bin, SKzRLEPicBuf* rle, unsigned required,
                                                    unsigned excluded);
    static void ExtractRLEObjectToBinPicBuf(SKzBinPicBuf* bin, SKzRLEObject* obj);

    // Forms: the non-painted run list and the painted objects. dst == src acts in
    // place; on failure the input is kept.
    static kz_result ConvertPicBufToNonPaintedRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic);
    static kz_result ConvertRLEToNonPaintedRLE(SKzRLEPicBuf* dst, SKzRLEPicBuf* src);
    static kz_result ConvertRLEToNonPaintedRLE(SKzRLEPicBuf* pic);
    static kz_result ConvertRLEObjectToNonPaintedRLE(SKzRLEPicBuf* dst, SKzRLEObject* obj);
    static kz_result ConvertRLEToPaintedRLE(SKzRLEPicBuf* pic);
    static kz_result ConvertRLEToPaintedRLE(SKzRLEPicBuf* dst, SKzRLEPicBuf* src);
    static kz_result ConvertPictureToRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic);

    // Serialised form. Loading takes the records as stored wherever they can be
    // walked safely (rows in any order, runs overlapping); a box that does not hold
    // its object's pixels is replaced by their extent. A blob whose records do not
    // tile its data, or whose rows and runs leave their record, gives -9. Inflating
    // grows with the real output: a length word beyond a fixed cap plus a multiple of
    // the stream is refused (null, -3), and for a picture whose size is preset, one
    // beyond what a picture of that size can hold gives -9 before anything inflates.
    static unsigned long SaveToMemory(SKzRLEPicBuf* pic, void* out);
    static void* SaveToMemoryCompressRaw(void* data, unsigned long size, int level, unsigned,
                                         unsigned long* outSize);
    static void* SaveToMemoryCompress(SKzRLEPicBuf* pic, int level, unsigned, unsigned long* outSize);
    static void* LoadFromMemoryUncompressRaw(unsigned, void* blob, unsigned long size, unsigned long* rawSize);
    static kz_result LoadFromMemoryUncompress(SKzRLEPicBuf* pic, unsigned, void* blob, unsigned long size);
    static kz_result LoadFromMemory(SKzRLEPicBuf* pic, void* blob, unsigned long size);
    static int GetObjectCountFromMemory(void* blob, unsigned long size);
    static kz_result ResetBinObjStatesInMemory(void* blob, unsigned long size, unsigned mask, unsigned value,
                                               bool* changed);

    // Editing the object set of a painted picture in place. Positions count from 0
    // in block order; the block stays contiguous and its counters exact.
    static kz_result DeleteObjectWithID(SKzRLEPicBuf* pic, unsigned id);
    static kz_result DeleteObject(SKzRLEPicBuf* pic, unsigned index);
    // count objects from index; offsets[i] is the offset of object i, offsets[object
    // count] is 0xFFFFFFFF. A table that disagrees with the block gives -9.
    static kz_result DeleteObject(SKzRLEPicBuf* pic, unsigned index, unsigned count, unsigned* offsets);
    // The n positions must be ascending, distinct and below the object count (-4).
    static kz_result DeleteObject(SKzRLEPicBuf* pic, unsigned* indexes, unsigned n);
    static kz_result DeleteObjectsWithStatus(SKzRLEPicBuf* pic, unsigned status);
    // Appends a byte copy of obj with the largest id + 1 (obj may lie in pic's block).
    static kz_result AddObject(SKzRLEPicBuf* pic, SKzRLEObject* obj, unsigned* index, SKzRLEObject** added);
    static kz_result AddObject(SKzRLEPicBuf* pic, SKzRLEObject* obj, unsigned* index);
    static kz_result AddObjectKeepID(SKzRLEPicBuf* pic, SKzRLEObject* obj, unsigned* index);
    // Sizes the object block to bytes in total (at least the bytes in use, else -4).
    static kz_result PreAllocate(SKzRLEPicBuf* pic, unsigned bytes);
    // Appends into the room left by PreAllocate; -9 when the copy does not fit.
    static kz_result AddObjectNoAllocate(SKzRLEPicBuf* pic, SKzRLEObject* obj, SKzRLEObject** added);
    // Appends the part of obj inside the picture.
    static kz_result AddObjectCutDims(SKzRLEPicBuf* pic, SKzRLEObject* obj, bool keepId, SKzRLEObject** added);
    static kz_result CopyObjectsWithStatus(SKzRLEPicBuf* dst, SKzRLEPicBuf* src, unsigned value, unsigned mask);
    static kz_result CopyObjectsExcept(SKzRLEPicBuf* dst, SKzRLEPicBuf& src, unsigned* ids, unsigned n);
    static void CopyObjectAttributes(SKzRLEObject* dst, SKzRLEObject* src);
    static bool IsRectangular(const SKzRLEObject* obj);

    // Shape measures and the cut of a whole picture to a rectangle.
    static void Projections(SKzRLEObject* obj, unsigned* counts, unsigned width);
    static void OuterProjections(SKzRLEObject* obj, unsigned* counts, unsigned width);
    static kz_result CutRectangle(SKzRLEPicBuf* dst, SKzRLEPicBuf* src, unsigned x, unsigned y, unsigned w,
                                  unsigned h);
    // Kept for hosts that call it; it does nothing.
    static void CropRectangle(SKzRLEPicBuf* dst, SKzRLEPicBuf* src, int x, int y, unsigned w, unsigned h);
};

// Builds object i out of the pixels of label i, for every label 1..maxLabel of a
// label picture; labels above maxLabel are ignored. When memory runs out (for the
// table or the segments) reading and writing give -3.
class KZ_EXPORT CKzRLEPicBufBuilder {
public:
    struct CKzSegment {
        u32 x;
        u32 y;
        u32 length;
    };
    struct Entry {
        std::vector<CKzSegment> segments;
        u32 lastY = 0xFFFFFFFFu;
        u32 rows = 0;
    };

    explicit CKzRLEPicBufBuilder(unsigned maxLabel);
    template <class T>
    int ReadPicBuf_Impl(const SKzPicBuf& pic);
    int WriteRLEPicBuf(SKzRLEPicBuf& rle) const;

private:
    u32 m_width = 0;
    u32 m_height = 0;
    std::vector<Entry> m_entries;
};

// Appends the runs of one line of uiWidth samples as row y of a non-painted picture;
// lines in ascending y. -9 for a row out of range or out of order, -3 when the run
// list cannot grow.
KZ_EXPORT kz_result addLine8ToNonPaintedRLE(SKzRLEPicBuf* rle, unsigned y, unsigned char* line);
KZ_EXPORT kz_result addLine16ToNonPaintedRLE(SKzRLEPicBuf* rle, unsigned y, unsigned short* line);
// Labels a non-painted picture's runs (8-connectivity) into painted objects.
KZ_EXPORT kz_result ConvertRLEToPaintedRLE_low(SKzRLEPicBuf* pic);

// Helpers for hosts building objects run by run: the length of the stretch of
// samples equal to (x, y) going right (0 outside the picture), and appending a
// run to objects[label] (capacities[label] bytes allocated; the caller fills the box).
KZ_EXPORT int find_RLE_FromPainted(SKzPicBuf* pic, unsigned y, unsigned x);
KZ_EXPORT kz_result add_RLE_item_FromPainted(SKzRLEObject** objects, unsigned* capacities, unsigned label,
                                             unsigned y, unsigned x, unsigned length, unsigned customBytes);

// Kept for hosts; accepts every object.
KZ_EXPORT int DebugCheckRleObject(SKzRLEObject* obj);

// qsort orderings of SKzRLERun records (unsigned fields unless said). None returns
// 0: equal keys keep no particular order.
KZ_EXPORT int compfunc_Object_YX(const void* a, const void* b); // label, y, x
KZ_EXPORT int compfunc_YX(const void* a, const void* b);        // y, x
KZ_EXPORT int compfunc_RLE_YX(const void* a, const void* b);    // y, x
KZ_EXPORT int compfunc_YX_signed(const void* a, const void* b); // y, x as signed
// Label relations, each a pair of unsigned labels: by the larger label of the pair.
KZ_EXPORT int compare_relations(const void* a, const void* b);

// Shape operations on single objects. The records they return are standalone
// CKzAlloc blocks (the caller releases them with CKzAlloc::Free) carrying the id,
// state and box of the object they were made from, without custom bytes.
KZ_EXPORT SKzRLEObject* ObjectComplement(SKzRLEObject* obj);
KZ_EXPORT SKzRLEObject* RLEFillHolesOnObject(SKzRLEObject* obj);
KZ_EXPORT unsigned GetSegmentCount(SKzRLEObject* obj);

// Run helpers of the hole filling. The map holds one byte per pixel of a box whose
// left column is `left`, mapWidth bytes a row.
KZ_EXPORT bool IdenticalSegments(SKzSegment a, SKzSegment b);
KZ_EXPORT bool NotIdenticalSegments(SKzSegment a, SKzSegment b);
KZ_EXPORT bool CompareSegments(SKzSegment a, SKzSegment b);
KZ_EXPORT bool AreSegmentsVerticallyConnected(SKzSegment* a, SKzSegment* b);
KZ_EXPORT bool TestSegment(SKzSegment* run, unsigned row, unsigned left, unsigned char* map, unsigned mapWidth,
                           bool mark);
KZ_EXPORT bool TestSegmentNeighbour(SKzSegment* a, SKzSegment* b, unsigned row, unsigned left, unsigned char* map,
                                    unsigned mapWidth);
// The stack holds one-run row records, 16 bytes each (a row header y, 1, then its
// run x, length), with room for every run of comp; *n counts the records on it.
// `run` is such a record (its run follows the header).
KZ_EXPORT unsigned GetBoundarySegment(SKzRLEObject* comp, SKzRowSegment* stack, unsigned* n, unsigned char* map,
                                      unsigned mapWidth);
KZ_EXPORT void FindUnseenSegmentNeighbours(const SKzRowSegment* run, SKzRowSegment* stack, unsigned* n,
                                           SKzRLEObject* comp, unsigned char* map, unsigned mapWidth);
KZ_EXPORT SKzRLEObject* MakeObjectFromSegments(SKzRLEObject* comp, unsigned char* map, unsigned mapWidth);
