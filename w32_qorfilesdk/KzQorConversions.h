// Conversions between the flat C records of the host interface and the
// library's own records: attributes, text information, picture metadata (the
// description record and the older record with probes and filters) and the
// experiment tree.
//
// Host records are untrusted: texts are read no further than their fields,
// counts above a record's capacity are refused. Texts written towards a host
// are always terminated within their fields.
#pragma once

#include "gnr_system/kz_base.h"
#include "w32_qorfilesdk/QorFile.h"

struct SKzImageAttributes;
struct SKzImageTextInfo;
struct SKzPictureMetadata;
struct SKzPicturePlaneDesc;
struct SKzExperiment;

// ---- attributes and text information ---------------------------------------

// The ten geometry fields (depths widened) and quality = compression
// parameter x 100 rounded half up (0 for a negative parameter). 0.
int ConvertGetAttributes(_QORATTRIBUTES& record, const SKzImageAttributes& attributes);
// Geometry, depths (bounded to 8 bits), frame count and compression from the
// record; pixel type 1, no tiles, compression parameter = quality x 0.01. 0.
int ConvertSetAttributes(SKzImageAttributes& attributes, const _QORATTRIBUTES& record);
// Each of the fifteen texts into its field, cut to the field's length less
// the terminator. 0.
int ConvertGetTextinfo(_QORTEXTINFO& record, const SKzImageTextInfo& info);
// Text information is never taken from a host: changes nothing. 0.
int ConvertSetTextinfo(SKzImageTextInfo& info, const _QORTEXTINFO& record);

// ---- picture metadata --------------------------------------------------------

// Library -> host. At most 256 planes are converted and counted. 0.
int QorApiSupport_MetadataDesc_QorToApi(const SKzPictureMetadata& metadata, _QORMETADATA_DESC& record);
int QorApiSupport_PicturePlaneDesc_QorToApi(_QORPICTUREPLANE_DESC& record, const SKzPicturePlaneDesc& plane);
int QorApiSupport_Metadata_QorToApi(const SKzPictureMetadata& metadata, _QORMETADATA& record);
int QorApiSupport_PicturePlane_QorToApi(_QORPICTUREPLANE& record, const SKzPicturePlaneDesc& plane);

// Host -> library. The plane set is rebuilt with the record's planes and one
// default sample setting; other metadata members keep their values.
// 0; -9 (metadata unchanged) for a plane count above 256; -3 (unchanged) when
// memory runs out.
int QorApiSupport_MetadataDesc_ApiToQor(const _QORMETADATA_DESC& record, SKzPictureMetadata& metadata);
int QorApiSupport_PicturePlaneDesc_ApiToQor(SKzPicturePlaneDesc& plane, const _QORPICTUREPLANE_DESC& record);
int QorApiSupport_Metadata_ApiToQor(const _QORMETADATA& record, SKzPictureMetadata& metadata);
int QorApiSupport_PicturePlane_ApiToQor(SKzPicturePlaneDesc& plane, const _QORPICTUREPLANE& record);

// ---- experiment ----------------------------------------------------------------

// A new entry for one level (the caller deletes it); null when memory runs out.
_QOREXPERIMENTLEVEL* QorApiSupport_ExperimentLevel_QorToApi(const SKzExperiment* level);
// The levels along the chain of first children, spectral loops left out.
// 0; -9 (a count of 0) when they are more than the record holds; -3 (a count
// of 0) when memory runs out.
int QorApiSupport_Experiment_QorToApi(const SKzExperiment& tree, _QOREXPERIMENT& record);
// The same for a tree that may be absent (a count of 0).
int QorApiSupport_Experiment_QorToApi(const SKzExperiment* tree, _QOREXPERIMENT& record);
// One entry into a level (allocated when null; an existing level is emptied
// first, its subtree released). 0; -4 (level untouched) for an unknown type; -3.
int QorApiSupport_ExperimentLevel_ApiToQor(const _QOREXPERIMENTLEVEL& entry, SKzExperiment*& level);
// The entries, outermost first, into a chain of levels returned through root.
// No entries: 0, root untouched. -9 (root untouched) for a count above the
// record's capacity. A failure later releases the whole tree and nulls root.
int QorApiSupport_Experiment_ApiToQor(const _QOREXPERIMENT& record, SKzExperiment*& root);
