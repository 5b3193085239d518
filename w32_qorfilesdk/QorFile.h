/*
 * QorFile.h: the C interface of libvt5 for host programs.
 *
 * A host opens a VT5 file by path and receives a numbered handle
 * (QORFILEHANDLE); every function returns a QORRESULT code or, for
 * functions that count, size or index, that value. Data cross the interface
 * in the flat records below. Their layout is a binary interface: field
 * order, widths, offsets and the fixed text lengths are exact for x86-64
 * (little-endian, natural alignment, 32-bit wchar_t), and the header refuses
 * to compile where the layout would differ.
 *
 * Text fields hold zero-terminated wide strings. A text that fills its whole
 * field may arrive without a terminator (tag names of 32 characters, for
 * example); hosts bound their reads by the field's length.
 *
 * Every output record and array belongs to the host. Where a count or size
 * is not known beforehand, call once with null buffers to learn it, then
 * again with buffers of that size.
 *
 * This header compiles as C99 and as C++; it includes only <stddef.h>,
 * <stdint.h> and <wchar.h>.
 */
#ifndef QORFILE_H_INCLUDED
#define QORFILE_H_INCLUDED

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

/* Exported functions are marked with this. */
#if defined(__GNUC__)
#define QOR_API __attribute__((visibility("default")))
#else
#define QOR_API
#endif

/* A file handle number; 0 is never a valid handle. */
typedef int QORFILEHANDLE;

/* A result code: 0 success, a negative value failure. */
typedef int QORRESULT;

#define QOR_OK 0
#define QOR_FAIL (-1)                /* failure, or a file version not supported */
#define QOR_ERR_NOT_SUPPORTED (-2)   /* operation or sample format not supported */
#define QOR_ERR_OUT_OF_MEMORY (-3)
#define QOR_ERR_INVALID_ARG (-4)
#define QOR_ERR_NO_FORMAT (-5)       /* no image format for the file name */
#define QOR_ERR_INDEX (-6)
#define QOR_ERR_TRUNCATED (-8)
#define QOR_ERR_FAILED (-9)          /* read, write or format error; record too small */
#define QOR_ERR_NOT_FOUND (-13)      /* unknown handle, tag or event */
#define QOR_ERR_TOO_MANY (-17)       /* more custom-data tags than the record holds */
#define QOR_ERR_AMBIGUOUS (-100)

/* Fixed lengths (in wide characters) and capacities of the records. */
#define QOR_TEXT_LENGTH 256             /* names and most texts */
#define QOR_LONG_TEXT_LENGTH 4096       /* text-information items 5 and 6 */
#define QOR_TEXTINFO_COUNT 15           /* text-information items */
#define QOR_MAX_PLANES 256              /* planes of a metadata record */
#define QOR_MAX_EXPERIMENT_LEVELS 256   /* levels of an experiment record */
#define QOR_MAX_BINARIES 32             /* binary-layer descriptors */
#define QOR_MAX_CUSTOMDATA 32           /* custom-data tags */
#define QOR_CUSTOMDATA_TAG_LENGTH 32    /* a tag name: at most 31 characters and a terminator */
#define QOR_EVENT_MEANING_LENGTH 128
#define QOR_EVENT_DESCRIPTION_LENGTH 256

/* Experiment level types of QOREXPERIMENTLEVEL.uiType. */
#define QOR_LOOP_TIME 0
#define QOR_LOOP_XY 1
#define QOR_LOOP_Z 2
#define QOR_LOOP_OTHER 3

/* Compression of QORATTRIBUTES.uiCompression. */
#define QOR_COMPRESSION_DEFLATE 0
#define QOR_COMPRESSION_RAW 2

/* A picture in memory. The interface's picture functions allocate and free
 * the samples; a host may also describe memory of its own. 40 bytes. */
typedef struct _QORPICTURE {
    uint32_t uiWidth;       /* pixels per row */
    uint32_t uiHeight;      /* rows */
    uint32_t uiBpc;         /* bits per component in memory */
    uint32_t uiComp;        /* components per pixel */
    uint32_t uiWidthBytes;  /* row stride in bytes */
    uint32_t uiPadding;
    uint64_t uiSize;        /* row stride x height */
    void* pData;            /* the samples */
} QORPICTURE;

/* Geometry and storage of a file. 44 bytes. */
typedef struct _QORATTRIBUTES {
    uint32_t uiWidth;
    uint32_t uiWidthBytes;      /* row stride in bytes */
    uint32_t uiHeight;
    uint32_t uiComp;            /* components per pixel */
    uint32_t uiBpcInMemory;     /* bits per component in memory (8 or 16) */
    uint32_t uiBpcSignificant;  /* significant bits per component */
    uint32_t uiSequenceCount;   /* frames */
    uint32_t uiTileWidth;
    uint32_t uiTileHeight;
    uint32_t uiCompression;     /* QOR_COMPRESSION_DEFLATE or QOR_COMPRESSION_RAW */
    uint32_t uiQuality;         /* compression parameter x 100 */
} QORATTRIBUTES;

/* The fifteen texts about the image, translated from their templates when
 * the file was opened. Item 5 holds by default the description of the
 * acquisition, item 6 the cameras and their settings, item 9 the
 * acquisition time, item 13 the objective; item 14 is the version of the
 * application that wrote the file. 46080 bytes. */
typedef struct _QORTEXTINFO {
    wchar_t wsItem0[QOR_TEXT_LENGTH];
    wchar_t wsItem1[QOR_TEXT_LENGTH];
    wchar_t wsItem2[QOR_TEXT_LENGTH];
    wchar_t wsItem3[QOR_TEXT_LENGTH];
    wchar_t wsItem4[QOR_TEXT_LENGTH];
    wchar_t wsItem5[QOR_LONG_TEXT_LENGTH];
    wchar_t wsItem6[QOR_LONG_TEXT_LENGTH];
    wchar_t wsItem7[QOR_TEXT_LENGTH];
    wchar_t wsItem8[QOR_TEXT_LENGTH];
    wchar_t wsItem9[QOR_TEXT_LENGTH];
    wchar_t wsItem10[QOR_TEXT_LENGTH];
    wchar_t wsItem11[QOR_TEXT_LENGTH];
    wchar_t wsItem12[QOR_TEXT_LENGTH];
    wchar_t wsItem13[QOR_TEXT_LENGTH];
    wchar_t wsItem14[QOR_TEXT_LENGTH];
} QORTEXTINFO;

/* One plane (channel) of a metadata description. 0x810 bytes. */
typedef struct _QORPICTUREPLANE_DESC {
    uint32_t uiCompCount;               /* components of the plane (1 or 3) */
    uint32_t uiColor;                   /* display colour 0x00BBGGRR */
    wchar_t wsName[QOR_TEXT_LENGTH];    /* plane name */
    wchar_t wsOCName[QOR_TEXT_LENGTH];  /* optical configuration (read only) */
    double dEmissionWavelength;         /* nm; -1.0 when unknown */
} QORPICTUREPLANE_DESC;

/* The frame-0 picture metadata of a file. 0x81468 bytes. */
typedef struct _QORMETADATA_DESC {
    double dTimeAbsolute;       /* Julian day number */
    double dAngle;
    double dCalibration;        /* micrometres per pixel; 0 when not calibrated */
    double dAspect;
    wchar_t wsObjectiveName[QOR_TEXT_LENGTH];
    double dObjectiveMag;
    double dObjectiveNA;
    double dRefractIndex1;
    double dRefractIndex2;
    double dReserved;           /* not read or written */
    double dZoom;
    double dProjectiveMag;
    uint32_t uiRepresentation;  /* plane representation */
    uint32_t uiPlaneCount;      /* at most QOR_MAX_PLANES */
    uint32_t uiCompCount;       /* components of all planes */
    uint32_t uiPadding;
    QORPICTUREPLANE_DESC sPlanes[QOR_MAX_PLANES];
} QORMETADATA_DESC;

/* One plane of the older metadata record. Wavelengths in nm; -1.0 means
 * unknown. 0x860 bytes. */
typedef struct _QORPICTUREPLANE {
    uint32_t uiCompCount;
    uint32_t uiColor;                   /* 0x00BBGGRR */
    uint64_t uiModalityMask;            /* how the plane was acquired */
    wchar_t wsName[QOR_TEXT_LENGTH];
    wchar_t wsOCName[QOR_TEXT_LENGTH];  /* optical configuration (read only) */
    double dProbeExcitationPeak;
    double dProbeExcitationStart;       /* band at half height */
    double dProbeExcitationEnd;
    double dProbeEmissionPeak;
    double dProbeEmissionStart;
    double dProbeEmissionEnd;
    double dFilterExcitationLow;        /* filter path: lowest excitation wavelength */
    double dFilterExcitationHigh;
    double dFilterEmissionLow;
    double dFilterEmissionHigh;
} QORPICTUREPLANE;

/* The older metadata record, with temperature, modalities, probes and
 * filters. 0x86470 bytes. */
typedef struct _QORMETADATA {
    double dTimeAbsolute;
    double dAngle;
    double dTemperK;            /* kelvin */
    double dCalibration;        /* micrometres per pixel; 0 when not calibrated */
    double dAspect;
    wchar_t wsObjectiveName[QOR_TEXT_LENGTH];
    double dObjectiveMag;
    double dObjectiveNA;
    double dRefractIndex1;
    double dRefractIndex2;
    double dReserved;           /* not read or written */
    double dZoom;
    double dProjectiveMag;
    uint32_t uiRepresentation;
    uint32_t uiPlaneCount;      /* at most QOR_MAX_PLANES */
    uint32_t uiCompCount;
    uint32_t uiPadding;
    QORPICTUREPLANE sPlanes[QOR_MAX_PLANES];
} QORMETADATA;

/* One loop of an experiment. 16 bytes. */
typedef struct _QOREXPERIMENTLEVEL {
    uint32_t uiType;  /* QOR_LOOP_TIME, QOR_LOOP_XY, QOR_LOOP_Z or QOR_LOOP_OTHER */
    uint32_t uiSize;  /* items of the loop */
    double dValue;    /* time loop: period in ms; Z stack: step in micrometres; else 0 */
} QOREXPERIMENTLEVEL;

/* The loops of a file's experiment, outermost first; the first loop varies
 * slowest through the frames. 4104 bytes. */
typedef struct _QOREXPERIMENT {
    uint32_t uiLevelCount;
    uint32_t uiPadding;
    QOREXPERIMENTLEVEL sLevels[QOR_MAX_EXPERIMENT_LEVELS];
} QOREXPERIMENT;

/* One binary layer stored beside the frames. 0x804 bytes. */
typedef struct _QORBINARYDESC {
    wchar_t wsName[QOR_TEXT_LENGTH];           /* layer name */
    wchar_t wsComponentName[QOR_TEXT_LENGTH];  /* the component it belongs to */
    uint32_t uiColor;                          /* 0x00BBGGRR */
} QORBINARYDESC;

/* The binary layers of a file. 65668 bytes. */
typedef struct _QORBINARIES {
    uint32_t uiCount;
    QORBINARYDESC sBinaries[QOR_MAX_BINARIES];
} QORBINARIES;

/* One custom-data tag: a name and the host's bytes. 144 bytes. */
typedef struct _QORFILECUSTOMDATA {
    wchar_t wsTag[QOR_CUSTOMDATA_TAG_LENGTH];
    void* pData;      /* the bytes; null to learn the size */
    uint32_t uiSize;  /* byte count */
} QORFILECUSTOMDATA;

/* The custom-data tags of a file. 4616 bytes. */
typedef struct _QORFILECUSTOMDATASET {
    QORFILECUSTOMDATA sData[QOR_MAX_CUSTOMDATA];
    uint32_t uiCount;
} QORFILECUSTOMDATASET;

/* One event of the acquisition. 0x610 bytes. */
typedef struct _QORUSEREVENT {
    uint32_t uiEventID;
    uint32_t uiPadding;
    double dTime;  /* ms */
    wchar_t wsMeaning[QOR_EVENT_MEANING_LENGTH];
    wchar_t wsDescription[QOR_EVENT_DESCRIPTION_LENGTH];
} QORUSEREVENT;

/* Layout checks: the records are a binary interface. */
#if defined(__cplusplus)
#define QOR_LAYOUT_CHECK(name, cond) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define QOR_LAYOUT_CHECK(name, cond) _Static_assert(cond, #name)
#else
#define QOR_LAYOUT_CHECK(name, cond) typedef char qor_layout_check_##name[(cond) ? 1 : -1]
#endif
#define QOR_LAYOUT_AT(name, record, field, offset) \
    QOR_LAYOUT_CHECK(name, offsetof(record, field) == (offset))

QOR_LAYOUT_CHECK(wchar_size, sizeof(wchar_t) == 4);
QOR_LAYOUT_CHECK(pointer_size, sizeof(void*) == 8);
QOR_LAYOUT_CHECK(double_size, sizeof(double) == 8);

QOR_LAYOUT_CHECK(picture_size, sizeof(QORPICTURE) == 40);
QOR_LAYOUT_AT(picture_width, QORPICTURE, uiWidth, 0);
QOR_LAYOUT_AT(picture_height, QORPICTURE, uiHeight, 4);
QOR_LAYOUT_AT(picture_bpc, QORPICTURE, uiBpc, 8);
QOR_LAYOUT_AT(picture_comp, QORPICTURE, uiComp, 12);
QOR_LAYOUT_AT(picture_widthbytes, QORPICTURE, uiWidthBytes, 16);
QOR_LAYOUT_AT(picture_size_field, QORPICTURE, uiSize, 24);
QOR_LAYOUT_AT(picture_data, QORPICTURE, pData, 32);

QOR_LAYOUT_CHECK(attributes_size, sizeof(QORATTRIBUTES) == 44);
QOR_LAYOUT_AT(attributes_width, QORATTRIBUTES, uiWidth, 0);
QOR_LAYOUT_AT(attributes_widthbytes, QORATTRIBUTES, uiWidthBytes, 4);
QOR_LAYOUT_AT(attributes_height, QORATTRIBUTES, uiHeight, 8);
QOR_LAYOUT_AT(attributes_comp, QORATTRIBUTES, uiComp, 12);
QOR_LAYOUT_AT(attributes_bpcmem, QORATTRIBUTES, uiBpcInMemory, 16);
QOR_LAYOUT_AT(attributes_bpcsig, QORATTRIBUTES, uiBpcSignificant, 20);
QOR_LAYOUT_AT(attributes_seqcount, QORATTRIBUTES, uiSequenceCount, 24);
QOR_LAYOUT_AT(attributes_tilewidth, QORATTRIBUTES, uiTileWidth, 28);
QOR_LAYOUT_AT(attributes_tileheight, QORATTRIBUTES, uiTileHeight, 32);
QOR_LAYOUT_AT(attributes_compression, QORATTRIBUTES, uiCompression, 36);
QOR_LAYOUT_AT(attributes_quality, QORATTRIBUTES, uiQuality, 40);

QOR_LAYOUT_CHECK(textinfo_size, sizeof(QORTEXTINFO) == 46080);
QOR_LAYOUT_AT(textinfo_0, QORTEXTINFO, wsItem0, 0x0);
QOR_LAYOUT_AT(textinfo_1, QORTEXTINFO, wsItem1, 0x400);
QOR_LAYOUT_AT(textinfo_2, QORTEXTINFO, wsItem2, 0x800);
QOR_LAYOUT_AT(textinfo_3, QORTEXTINFO, wsItem3, 0xC00);
QOR_LAYOUT_AT(textinfo_4, QORTEXTINFO, wsItem4, 0x1000);
QOR_LAYOUT_AT(textinfo_5, QORTEXTINFO, wsItem5, 0x1400);
QOR_LAYOUT_AT(textinfo_6, QORTEXTINFO, wsItem6, 0x5400);
QOR_LAYOUT_AT(textinfo_7, QORTEXTINFO, wsItem7, 0x9400);
QOR_LAYOUT_AT(textinfo_8, QORTEXTINFO, wsItem8, 0x9800);
QOR_LAYOUT_AT(textinfo_9, QORTEXTINFO, wsItem9, 0x9C00);
QOR_LAYOUT_AT(textinfo_10, QORTEXTINFO, wsItem10, 0xA000);
QOR_LAYOUT_AT(textinfo_11, QORTEXTINFO, wsItem11, 0xA400);
QOR_LAYOUT_AT(textinfo_12, QORTEXTINFO, wsItem12, 0xA800);
QOR_LAYOUT_AT(textinfo_13, QORTEXTINFO, wsItem13, 0xAC00);
QOR_LAYOUT_AT(textinfo_14, QORTEXTINFO, wsItem14, 0xB000);

QOR_LAYOUT_CHECK(planedesc_size, sizeof(QORPICTUREPLANE_DESC) == 0x810);
QOR_LAYOUT_AT(planedesc_comp, QORPICTUREPLANE_DESC, uiCompCount, 0x0);
QOR_LAYOUT_AT(planedesc_color, QORPICTUREPLANE_DESC, uiColor, 0x4);
QOR_LAYOUT_AT(planedesc_name, QORPICTUREPLANE_DESC, wsName, 0x8);
QOR_LAYOUT_AT(planedesc_ocname, QORPICTUREPLANE_DESC, wsOCName, 0x408);
QOR_LAYOUT_AT(planedesc_emission, QORPICTUREPLANE_DESC, dEmissionWavelength, 0x808);

QOR_LAYOUT_CHECK(metadesc_size, sizeof(QORMETADATA_DESC) == 0x81468);
QOR_LAYOUT_AT(metadesc_time, QORMETADATA_DESC, dTimeAbsolute, 0x000);
QOR_LAYOUT_AT(metadesc_angle, QORMETADATA_DESC, dAngle, 0x008);
QOR_LAYOUT_AT(metadesc_calibration, QORMETADATA_DESC, dCalibration, 0x010);
QOR_LAYOUT_AT(metadesc_aspect, QORMETADATA_DESC, dAspect, 0x018);
QOR_LAYOUT_AT(metadesc_objective, QORMETADATA_DESC, wsObjectiveName, 0x020);
QOR_LAYOUT_AT(metadesc_objmag, QORMETADATA_DESC, dObjectiveMag, 0x420);
QOR_LAYOUT_AT(metadesc_objna, QORMETADATA_DESC, dObjectiveNA, 0x428);
QOR_LAYOUT_AT(metadesc_ri1, QORMETADATA_DESC, dRefractIndex1, 0x430);
QOR_LAYOUT_AT(metadesc_ri2, QORMETADATA_DESC, dRefractIndex2, 0x438);
QOR_LAYOUT_AT(metadesc_reserved, QORMETADATA_DESC, dReserved, 0x440);
QOR_LAYOUT_AT(metadesc_zoom, QORMETADATA_DESC, dZoom, 0x448);
QOR_LAYOUT_AT(metadesc_projmag, QORMETADATA_DESC, dProjectiveMag, 0x450);
QOR_LAYOUT_AT(metadesc_repr, QORMETADATA_DESC, uiRepresentation, 0x458);
QOR_LAYOUT_AT(metadesc_count, QORMETADATA_DESC, uiPlaneCount, 0x45C);
QOR_LAYOUT_AT(metadesc_comp, QORMETADATA_DESC, uiCompCount, 0x460);
QOR_LAYOUT_AT(metadesc_planes, QORMETADATA_DESC, sPlanes, 0x468);

QOR_LAYOUT_CHECK(plane_size, sizeof(QORPICTUREPLANE) == 0x860);
QOR_LAYOUT_AT(plane_comp, QORPICTUREPLANE, uiCompCount, 0x000);
QOR_LAYOUT_AT(plane_color, QORPICTUREPLANE, uiColor, 0x004);
QOR_LAYOUT_AT(plane_modality, QORPICTUREPLANE, uiModalityMask, 0x008);
QOR_LAYOUT_AT(plane_name, QORPICTUREPLANE, wsName, 0x010);
QOR_LAYOUT_AT(plane_ocname, QORPICTUREPLANE, wsOCName, 0x410);
QOR_LAYOUT_AT(plane_exc_peak, QORPICTUREPLANE, dProbeExcitationPeak, 0x810);
QOR_LAYOUT_AT(plane_exc_start, QORPICTUREPLANE, dProbeExcitationStart, 0x818);
QOR_LAYOUT_AT(plane_exc_end, QORPICTUREPLANE, dProbeExcitationEnd, 0x820);
QOR_LAYOUT_AT(plane_em_peak, QORPICTUREPLANE, dProbeEmissionPeak, 0x828);
QOR_LAYOUT_AT(plane_em_start, QORPICTUREPLANE, dProbeEmissionStart, 0x830);
QOR_LAYOUT_AT(plane_em_end, QORPICTUREPLANE, dProbeEmissionEnd, 0x838);
QOR_LAYOUT_AT(plane_fexc_low, QORPICTUREPLANE, dFilterExcitationLow, 0x840);
QOR_LAYOUT_AT(plane_fexc_high, QORPICTUREPLANE, dFilterExcitationHigh, 0x848);
QOR_LAYOUT_AT(plane_fem_low, QORPICTUREPLANE, dFilterEmissionLow, 0x850);
QOR_LAYOUT_AT(plane_fem_high, QORPICTUREPLANE, dFilterEmissionHigh, 0x858);

QOR_LAYOUT_CHECK(meta_size, sizeof(QORMETADATA) == 0x86470);
QOR_LAYOUT_AT(meta_time, QORMETADATA, dTimeAbsolute, 0x000);
QOR_LAYOUT_AT(meta_angle, QORMETADATA, dAngle, 0x008);
QOR_LAYOUT_AT(meta_temper, QORMETADATA, dTemperK, 0x010);
QOR_LAYOUT_AT(meta_calibration, QORMETADATA, dCalibration, 0x018);
QOR_LAYOUT_AT(meta_aspect, QORMETADATA, dAspect, 0x020);
QOR_LAYOUT_AT(meta_objective, QORMETADATA, wsObjectiveName, 0x028);
QOR_LAYOUT_AT(meta_objmag, QORMETADATA, dObjectiveMag, 0x428);
QOR_LAYOUT_AT(meta_objna, QORMETADATA, dObjectiveNA, 0x430);
QOR_LAYOUT_AT(meta_ri1, QORMETADATA, dRefractIndex1, 0x438);
QOR_LAYOUT_AT(meta_ri2, QORMETADATA, dRefractIndex2, 0x440);
QOR_LAYOUT_AT(meta_reserved, QORMETADATA, dReserved, 0x448);
QOR_LAYOUT_AT(meta_zoom, QORMETADATA, dZoom, 0x450);
QOR_LAYOUT_AT(meta_projmag, QORMETADATA, dProjectiveMag, 0x458);
QOR_LAYOUT_AT(meta_repr, QORMETADATA, uiRepresentation, 0x460);
QOR_LAYOUT_AT(meta_count, QORMETADATA, uiPlaneCount, 0x464);
QOR_LAYOUT_AT(meta_comp, QORMETADATA, uiCompCount, 0x468);
QOR_LAYOUT_AT(meta_planes, QORMETADATA, sPlanes, 0x470);

QOR_LAYOUT_CHECK(explevel_size, sizeof(QOREXPERIMENTLEVEL) == 16);
QOR_LAYOUT_AT(explevel_type, QOREXPERIMENTLEVEL, uiType, 0);
QOR_LAYOUT_AT(explevel_size_field, QOREXPERIMENTLEVEL, uiSize, 4);
QOR_LAYOUT_AT(explevel_value, QOREXPERIMENTLEVEL, dValue, 8);
QOR_LAYOUT_CHECK(experiment_size, sizeof(QOREXPERIMENT) == 8 + 16 * QOR_MAX_EXPERIMENT_LEVELS);
QOR_LAYOUT_AT(experiment_count, QOREXPERIMENT, uiLevelCount, 0);
QOR_LAYOUT_AT(experiment_levels, QOREXPERIMENT, sLevels, 8);

QOR_LAYOUT_CHECK(binarydesc_size, sizeof(QORBINARYDESC) == 0x804);
QOR_LAYOUT_AT(binarydesc_name, QORBINARYDESC, wsName, 0x000);
QOR_LAYOUT_AT(binarydesc_component, QORBINARYDESC, wsComponentName, 0x400);
QOR_LAYOUT_AT(binarydesc_color, QORBINARYDESC, uiColor, 0x800);
QOR_LAYOUT_CHECK(binaries_size, sizeof(QORBINARIES) == 4 + 0x804 * QOR_MAX_BINARIES);
QOR_LAYOUT_AT(binaries_count, QORBINARIES, uiCount, 0);
QOR_LAYOUT_AT(binaries_entries, QORBINARIES, sBinaries, 4);

QOR_LAYOUT_CHECK(customdata_size, sizeof(QORFILECUSTOMDATA) == 144);
QOR_LAYOUT_AT(customdata_tag, QORFILECUSTOMDATA, wsTag, 0);
QOR_LAYOUT_AT(customdata_data, QORFILECUSTOMDATA, pData, 128);
QOR_LAYOUT_AT(customdata_size_field, QORFILECUSTOMDATA, uiSize, 136);
QOR_LAYOUT_CHECK(customdataset_size, sizeof(QORFILECUSTOMDATASET) == 4616);
QOR_LAYOUT_AT(customdataset_entries, QORFILECUSTOMDATASET, sData, 0);
QOR_LAYOUT_AT(customdataset_count, QORFILECUSTOMDATASET, uiCount, 4608);

QOR_LAYOUT_CHECK(userevent_size, sizeof(QORUSEREVENT) == 0x610);
QOR_LAYOUT_AT(userevent_id, QORUSEREVENT, uiEventID, 0x000);
QOR_LAYOUT_AT(userevent_time, QORUSEREVENT, dTime, 0x008);
QOR_LAYOUT_AT(userevent_meaning, QORUSEREVENT, wsMeaning, 0x010);
QOR_LAYOUT_AT(userevent_description, QORUSEREVENT, wsDescription, 0x210);

#undef QOR_LAYOUT_AT
#undef QOR_LAYOUT_CHECK

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Reading: open, attributes, frames, descriptions, events, close ---- */

/* Opens a file for reading; the new handle, 0 on failure (no handle number
 * is used up then). An open gives 0 for a null path or a file that is not
 * there or cannot be read, a path whose extension is not ".vt5" (capitals
 * or small letters alike), a file without the VT5 signature or of a version
 * this library does not read, a file whose attributes are missing or
 * damaged, and a file without its chunk map.
 * Only the last can be mended: a file whose writer ended before the close
 * has its chunks but no map. CKzFileChunker::CreateMissingChunkMap
 * rebuilds the map from the chunks found; the file then opens, since every
 * writer stores the attributes with the first frame (whatever route made
 * the file: Qor_FileOpenForWrite, Qor_FileCreateModifiedFile, or the
 * temporary beside a file being replaced, see the README). After the
 * rebuild the frames whose chunks were complete are counted and read, with
 * the description stored at the first frame; their times come from the
 * frame chunks. A frame count in the attributes that disagrees with the
 * frames present is never trusted beyond them: the count reported is the
 * number of frames the file holds. */
QOR_API QORFILEHANDLE Qor_FileOpenForRead(const wchar_t* path);
/* Closes a read or write handle; a write handle's file is completed here.
 * -13 for an unknown handle. */
QOR_API QORRESULT Qor_FileClose(QORFILEHANDLE handle);
/* Geometry and storage of the file; a null record gives 0. */
QOR_API QORRESULT Qor_FileGetAttributes(QORFILEHANDLE handle, QORATTRIBUTES* attributes);
/* Frame-0 metadata. A file that stores none still gives 0 and a default
 * description (values unknown, -1; the planes fitted to the file's
 * components, none for one-bit files) when it has more than one frame or
 * one frame of more than one significant bit. -13 for a single one-bit frame
 * without metadata, for a version-2 file of no frames without metadata and
 * for an unknown handle. */
QOR_API QORRESULT Qor_FileGetMetadata(QORFILEHANDLE handle, QORMETADATA_DESC* metadata);
/* The fifteen texts, translated when the file was opened: their templates'
 * symbols ("%OBJECTIVE%", "%TIME%", ...) replaced by values of the frame-0
 * metadata and the experiment. A file that stores no texts gets the
 * default templates (items 5, 6, 9 and 13), translated the same way. Any
 * handle; a null record gives 0. */
QOR_API QORRESULT Qor_FileGetTextinfo(QORFILEHANDLE handle, QORTEXTINFO* textinfo);
/* Reads frame `frame` into the picture, whose width, height, components and
 * bits must be the file's, with a row stride of at least one row and a size
 * of at least stride x height (-9 otherwise). info[0] receives the frame's
 * time in ms (-1 when the file does not know it), info[1..3] its stage X, Y
 * and Z, whatever the result (0 where nothing is known). A frame the file does not hold, such as an index at or
 * past the frame count, gives -13; info is then filled as for any index:
 * the time of the file's frame-0 metadata (0 without one) and the position
 * the experiment's loops give for the index, which means nothing there.
 * -9 for a frame chunk that does not hold one frame of the file's storage
 * and for an unknown handle; -4 for a null info. */
QOR_API QORRESULT Qor_FileGetImageData(QORFILEHANDLE handle, uint32_t frame, QORPICTURE* picture, double info[4]);
/* Reads a rectangle of a frame viewed at a virtual size: x, y, width and
 * height in virtual pixels, into `buffer` rows of `rowBytes` bytes (each
 * row `width` pixels of all components, packed). The frame is resized by
 * nearest neighbour at pixel centres: output column i takes source column
 * min(floor((x + i + 0.5) x fileWidth / virtualWidth), fileWidth - 1), rows
 * alike, so a rectangle reaching past the virtual size repeats the last
 * column and row. Only raw frames are read so: a deflated frame gives -2,
 * unless the whole virtual picture is asked for (width = virtualWidth,
 * height = virtualHeight) from a version-3 file that holds a thumbnail,
 * which then stands for the frame. -2 as well for samples of more than 16
 * bits, except 32-bit floating point. info as for Qor_FileGetImageData;
 * -13 for a frame the file does not hold; -9 for a frame chunk that does
 * not hold one raw frame, a null buffer, a zero virtual size, a row stride
 * below one output row, or an unknown handle. */
QOR_API QORRESULT Qor_FileGetImageRectData(QORFILEHANDLE handle, uint32_t frame, uint32_t virtualWidth,
                                           uint32_t virtualHeight, uint32_t x, uint32_t y, uint32_t width,
                                           uint32_t height, void* buffer, uint32_t rowBytes, int reserved,
                                           double info[4]);
/* The loops of the file's experiment (spectral loops left out). */
QOR_API QORRESULT Qor_FileGetExperiment(QORFILEHANDLE handle, QOREXPERIMENT* experiment);
/* Sets the picture's geometry (rows aligned to 4 bytes) and allocates its
 * zero-filled samples; the byte count allocated, 0 (and a null data pointer)
 * when the size overflows or cannot be allocated. */
QOR_API uint64_t Qor_InitPicture(QORPICTURE* picture, uint32_t width, uint32_t height, uint32_t bits,
                                 uint32_t components);
/* Releases samples allocated by Qor_InitPicture. */
QOR_API void Qor_DestroyPicture(QORPICTURE* picture);
/* Frame index of loop coordinates indexed by loop type (QOR_LOOP_...). */
QOR_API uint32_t Qor_GetSeqIndexFromCoords(const QOREXPERIMENT* experiment, const uint32_t* coordinates);
/* Loop coordinates (8 entries, indexed by loop type) of a frame index. */
QOR_API void Qor_GetCoordsFromSeqIndex(const QOREXPERIMENT* experiment, uint32_t index, uint32_t coordinates[8]);
/* Name of a point of the XY-position loop, at most 255 characters and a
 * terminator. */
QOR_API QORRESULT Qor_GetMultipointName(QORFILEHANDLE handle, uint32_t point, wchar_t name[256]);
/* Index of the Z stack's home position; -1 without one. */
QOR_API int Qor_GetZStackHome(QORFILEHANDLE handle);
QOR_API QORRESULT Qor_GetLargeImageDimensions(QORFILEHANDLE handle, int* fieldsX, int* fieldsY, double* overlap);
/* Per-frame recorded data of a name; a negative frame reads frame 0; -13
 * when the data hold no slot for the frame. */
QOR_API QORRESULT Qor_GetRecordedDataInt(QORFILEHANDLE handle, const wchar_t* name, int frame, int* value);
QOR_API QORRESULT Qor_GetRecordedDataDouble(QORFILEHANDLE handle, const wchar_t* name, int frame, double* value);
QOR_API QORRESULT Qor_GetRecordedDataString(QORFILEHANDLE handle, const wchar_t* name, int frame,
                                            wchar_t text[256]);
/* The event with ID *eventID (a negative ID counts as 0); on success the ID
 * is advanced, so repeated calls visit the events in turn. Event IDs start
 * at 1 (a log numbers its events 1, 2, ... as they were added), so a host
 * starts with *eventID = 1; 0 finds no event in such a log. -13 when there
 * is no such event, also for a file without an event log. */
QOR_API QORRESULT Qor_GetNextUserEvent(QORFILEHANDLE handle, int* eventID, QORUSEREVENT* event);
/* The custom description form: item count, then each item's name,
 * description (256 characters each), type, flags (bit 0 enabled, bit 1
 * mandatory), number and text. A negative item gives -13. */
QOR_API int Qor_GetCustomDataCount(QORFILEHANDLE handle);
QOR_API QORRESULT Qor_GetCustomDataInfo(QORFILEHANDLE handle, int item, wchar_t name[256],
                                        wchar_t description[256], int* type, uint32_t* flags);
QOR_API QORRESULT Qor_GetCustomDataDouble(QORFILEHANDLE handle, int item, double* value);
/* Copies at most *length characters (256 when length is null or *length is
 * not positive) with a terminator in the last one; *length then receives the
 * text's full length. */
QOR_API QORRESULT Qor_GetCustomDataString(QORFILEHANDLE handle, int item, wchar_t* text, int* length);


/* ---- Stage alignment and stage coordinates ---- */

/* Point pairs measured on the stage; the transform fitted to them is applied
 * to every stage coordinate of the handle. A count of 0 removes the
 * alignment. -4 for a null array or a negative count, -9 for an unknown
 * handle. */
QOR_API QORRESULT Qor_SetStageAlignment(QORFILEHANDLE handle, int count, const double* srcX, const double* srcY,
                                        const double* dstX, const double* dstY);
/* Stage coordinates of pixel positions in frames; stageZ may be null. */
QOR_API QORRESULT Qor_GetStageCoordinates(QORFILEHANDLE handle, uint32_t count, const int* frames,
                                          const uint32_t* pixelX, const uint32_t* pixelY, double* stageX,
                                          double* stageY, double* stageZ);
/* The alignment points stored in the file's tag "AlignmentPoints_v1.0".
 * With all five arrays given, at most *count entries are filled; *count
 * then receives the number of points the tag holds. */
QOR_API QORRESULT Qor_GetAlignmentPoints(QORFILEHANDLE handle, int* count, int* frame, int* x, int* y, double* dx,
                                         double* dy);


/* ---- Writing: new files, frames appended one by one ---- */

/* A new file at path, described after the open read handle `source`: its
 * frame metadata, experiment, attributes, text information (as translated
 * when the source was opened: the new file holds the texts, not their
 * templates) and tags, changed by the records given (each may be null). The attributes record must keep
 * the source's component and frame counts; of it only width, height and the
 * two depths are taken. A file already at path is replaced when the new
 * handle is closed, and stays whole until then. The metadata description
 * is taken whole: planes are added or removed to match it; a description
 * whose planes' components do not add up to the file's components gives 0.
 * Returns the new write handle, 0 on failure (nothing is created). */
QOR_API QORFILEHANDLE Qor_FileCreateModifiedFile(const wchar_t* path, QORFILEHANDLE source,
                                                 const QORATTRIBUTES* attributes,
                                                 const QORMETADATA_DESC* description, const QORBINARIES* binaries,
                                                 const QORFILECUSTOMDATASET* customData);

/* Appends the next frame of a write handle, in the file's geometry (width,
 * height, components and sample size must match; any row stride at least the
 * row is accepted), with one picture per binary-layer descriptor in `layers`
 * (may be null). A null picture skips the frame. The first call writes the
 * description; a handle whose geometry is incomplete takes the missing parts
 * from its first picture. Every call consumes a frame index, also a failed
 * one. QOR_ERR_FAILED for a picture that does not fit the file. */
QOR_API QORRESULT Qor_FileAppendImageData(QORFILEHANDLE handle, const QORPICTURE* picture, const QORPICTURE* layers);



/* ---- Custom data and binary layers ---- */

/* Sets one custom-data tag (created or replaced). On a read handle the
 * tags set are written back into the file when the handle is closed; on a
 * write handle every tag is written at the close. A name must be neither
 * empty nor contain "!". 0; QOR_ERR_NOT_FOUND for an unknown handle;
 * QOR_ERR_INVALID_ARG for a negative size, null data with a size, or a name
 * that cannot be stored. */
QOR_API QORRESULT Qor_FileSetCustomDataTag(QORFILEHANDLE handle, const wchar_t* name, const void* data, int size);

/* The tags of a read handle, in ascending order of their names. An entry
 * whose pData is not null receives at most uiSize bytes of the tag; then
 * uiSize receives the tag's full size. Call with null pointers first to
 * learn names and sizes. 0; QOR_ERR_FAILED with more than
 * QOR_MAX_CUSTOMDATA tags (nothing written); QOR_ERR_NOT_FOUND unless a
 * read handle. */
QOR_API QORRESULT Qor_FileGetCustomData(QORFILEHANDLE handle, QORFILECUSTOMDATASET* set);

/* The binary-layer descriptors of a read handle; uiCount is set to 0 first.
 * 0 (also with no descriptors); QOR_ERR_FAILED with more than
 * QOR_MAX_BINARIES descriptors; QOR_ERR_NOT_FOUND unless a read handle. */
QOR_API QORRESULT Qor_FileGetBinaryDescriptors(QORFILEHANDLE handle, QORBINARIES* binaries);

/* Layer `layer` of frame `frame` painted into a one-component picture that
 * already has its samples (Qor_InitPicture): 0 where no object lies, each
 * object's number 1, 2, ... elsewhere. 0; the read's error when the frame
 * has no such layer (QOR_ERR_NOT_FOUND); QOR_ERR_FAILED for a layer index
 * that names no descriptor, a null picture, one without samples, of more
 * than one component or smaller than the layer; QOR_ERR_NOT_FOUND unless a
 * read handle. */
QOR_API QORRESULT Qor_FileGetBinary(QORFILEHANDLE handle, uint32_t frame, int layer, QORPICTURE* picture);


#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
/* ---- Functions of C++ linkage (C++ hosts only) ---- */

/* A new, empty file at path (a file already there is replaced when the
 * handle is closed). Its geometry comes from Qor_FileModifyAttributes and,
 * for what is still 0, from the first appended picture. Returns the write
 * handle, 0 on failure. */
QOR_API QORFILEHANDLE Qor_FileOpenForWrite(const wchar_t* path);

/* Width, height and depths of a write handle before its first frame (later
 * frames keep the geometry the first one was stored with); the row stride
 * follows. QOR_ERR_INVALID_ARG for a depth above 255 (nothing changed);
 * QOR_ERR_FAILED unless a write handle. */
QOR_API QORRESULT Qor_FileModifyAttributes(QORFILEHANDLE handle, uint32_t width, uint32_t height, uint32_t bits,
                                           uint32_t significantBits);

/* Rewrites the frame metadata of a write handle from a description (planes
 * rebuilt from the record). A handle without metadata takes the description
 * whole; otherwise the plane counts must agree (QOR_ERR_FAILED).
 * QOR_ERR_NOT_FOUND unless a write handle. */
QOR_API QORRESULT FileSetMetadataDesc(QORFILEHANDLE handle, const QORMETADATA_DESC* description);

/* The tag-name list stored in the file of a read handle (each name as
 * 32-bit characters and a 0, then one more 0), copied into buffer when it
 * is not null. Its size in bytes; 0 when the file has none;
 * QOR_ERR_NOT_FOUND unless a read handle. */
QOR_API int Qor_FileGetCustomData(QORFILEHANDLE handle, void* buffer);

/* The bytes of one tag of a read handle, copied into buffer when it is not
 * null (call with null first to learn the size). The tag's size; 0 for an
 * unknown tag or unless a read handle. */
QOR_API unsigned int Qor_FileGetCustomDataTag(QORFILEHANDLE handle, const wchar_t* name, void* buffer);


#endif /* __cplusplus */

#endif /* QORFILE_H_INCLUDED */
