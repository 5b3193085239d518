// Conversions between the flat C records of the host interface and the
// library's own records: attributes, text information, picture metadata (the
// description record and the older record with probes and filters) and the
// experiment tree. The attribute and text conversions are static members of
// SKzQorFileHandle; the others are exported free functions.
//
// Host records are untrusted: texts are read no further than their fields,
// counts beyond what the library can hold are refused. Texts written towards
// a host are always terminated within their fields.
#pragma once

#include "gnr_system/kz_base.h"
#include "w32_qorfilesdk/QorFile.h"
#include "w32_qorfilesdk/SKzQorFileHandle.h"

struct SKzImageAttributes;
struct SKzImageTextInfo;
struct SKzPictureMetadata;
struct SKzPicturePlaneDesc;
struct SKzExperiment;

// ---- attributes and text information ---------------------------------------
// The handle record's conversions under their short names.

// The ten geometry fields (depths widened) and quality = compression
// parameter x 100 rounded half up (0 for a negative parameter). 0.
inline int ConvertGetAttributes(_QORATTRIBUTES& record, const SKzImageAttributes& attributes)
{
    return SKzQorFileHandle::ConvertGetAttributes(record, attributes);
}
// Geometry, depths (bounded to 8 bits), frame count and compression from the
// record; pixel type 1, no tiles, compression parameter = quality x 0.01. 0.
inline int ConvertSetAttributes(SKzImageAttributes& attributes, const _QORATTRIBUTES& record)
{
    return SKzQorFileHandle::ConvertSetAttributes(attributes, record);
}
// Each of the fifteen texts into its field, cut to the field's length less
// the terminator. 0.
inline int ConvertGetTextinfo(_QORTEXTINFO& record, const SKzImageTextInfo& info)
{
    return SKzQorFileHandle::ConvertGetTextinfo(record, info);
}
// Text information is never taken from a host: changes nothing. 0.
inline int ConvertSetTextinfo(SKzImageTextInfo& info, const _QORTEXTINFO& record)
{
    return SKzQorFileHandle::ConvertSetTextinfo(info, record);
}

// ---- picture metadata --------------------------------------------------------

// Library -> host. At most 256 planes are converted and counted. 0.
KZ_EXPORT int QorApiSupport_MetadataDesc_QorToApi(const SKzPictureMetadata& metadata, _QORMETADATA_DESC& record);
KZ_EXPORT int QorApiSupport_PicturePlaneDesc_QorToApi(_QORPICTUREPLANE_DESC& record, const SKzPicturePlaneDesc& plane);
KZ_EXPORT int QorApiSupport_Metadata_QorToApi(const SKzPictureMetadata& metadata, _QORMETADATA& record);
KZ_EXPORT int QorApiSupport_PicturePlane_QorToApi(_QORPICTUREPLANE& record, const SKzPicturePlaneDesc& plane);

// Host -> library. The plane set is rebuilt with the record's plane count of
// default planes and one default sample setting; the first 256 planes (all
// the record holds) are filled from the record, further ones stay default.
// Other metadata members keep their values.
// 0; -9 (metadata unchanged) for a plane count above kQorMaxHostPlanes; -3
// (unchanged) when memory runs out.
KZ_EXPORT int QorApiSupport_MetadataDesc_ApiToQor(const _QORMETADATA_DESC& record, SKzPictureMetadata& metadata);
KZ_EXPORT int QorApiSupport_PicturePlaneDesc_ApiToQor(SKzPicturePlaneDesc& plane, const _QORPICTUREPLANE_DESC& record);
KZ_EXPORT int QorApiSupport_Metadata_ApiToQor(const _QORMETADATA& record, SKzPictureMetadata& metadata);
KZ_EXPORT int QorApiSupport_PicturePlane_ApiToQor(SKzPicturePlaneDesc& plane, const _QORPICTUREPLANE& record);

// The largest plane count taken from a host record: no plane set holds more
// planes than a picture can have components.
constexpr u32 kQorMaxHostPlanes = 65536;

// ---- experiment ----------------------------------------------------------------

// A new entry for one level (the caller deletes it); null when memory runs out.
KZ_EXPORT _QOREXPERIMENTLEVEL* QorApiSupport_ExperimentLevel_QorToApi(const SKzExperiment* level);
// The levels along the chain of first children, spectral loops left out.
// 0; -9 (a count of 0) when they are more than the record holds; -3 (a count
// of 0) when memory runs out.
KZ_EXPORT int QorApiSupport_Experiment_QorToApi(const SKzExperiment& tree, _QOREXPERIMENT& record);
// The same for a tree that may be absent (a count of 0).
inline int QorApiSupport_Experiment_QorToApi(const SKzExperiment* tree, _QOREXPERIMENT& record)
{
    if (!tree) {
        record.uiLevelCount = 0;
        return KZ_OK;
    }
    return QorApiSupport_Experiment_QorToApi(*tree, record);
}
// One entry into a level (allocated when null; an existing level is emptied
// first, its subtree released). 0; -4 (level untouched) for an unknown type; -3.
KZ_EXPORT int QorApiSupport_ExperimentLevel_ApiToQor(const _QOREXPERIMENTLEVEL& entry, SKzExperiment*& level);
// The entries, outermost first, into a chain of levels returned through root.
// No entries: 0, root untouched. -9 (root untouched) for a count above the
// record's capacity. A failure later releases the whole tree and nulls root.
KZ_EXPORT int QorApiSupport_Experiment_ApiToQor(const _QOREXPERIMENT& record, SKzExperiment*& root);
