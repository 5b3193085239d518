// Histograms of integer pictures: one row of counters per component and, for
// several components, a combined row of the integer mean of each pixel's
// samples; cut points, the mean bin, component weights and Otsu thresholds.
//
// Layout: one block of rows of 2^uiHistBpc counters of uiCounterSize bytes (4
// or 8). One component: one row, ppHistRows[0] is the block. K > 1
// components: K + 1 rows, row 0 the combined row, ppHistRows[i] row i + 1.
// The query functions address the rows through ppHistRows.
#pragma once

#include "gnr_system/kz_base.h"

struct SKzPicBuf;
struct SKzPicBufDesc;
struct SKzFloatPicBuf;

struct SKzHisto {
    void* pHistData;
    void** ppHistRows;
    u32 uiCounterSize;  // 4 or 8; 0 while unshaped
    u32 uiHistComp;
    u32 uiHistBpc;
    u32 eHistMode;  // 0 the whole picture, 1 the rectangle below
    u32 uiRectLeft;
    u32 uiRectTop;
    u32 uiRectWidth;
    u32 uiRectHeight;
    u32 uiStepX;
    u32 uiStepY;
    u32 uiPicWidth;
    u32 uiPicHeight;
};

class KZ_EXPORT CKzHistoAPI {
public:
    // All fields 0, steps 1.
    static kz_result Init(SKzHisto* h);
    // Shape for a picture with 32- or 64-bit counters (counters are not
    // cleared). -4 for a null argument, bits above 16 or no component; -3
    // when memory runs out (the histogram is then unshaped: counter width 0,
    // no block).
    static kz_result Reinit32(SKzHisto* h, SKzPicBufDesc* desc);
    static kz_result Reinit64(SKzHisto* h, SKzPicBufDesc* desc);
    static kz_result Copy(SKzHisto* dst, SKzHisto* src);
    static kz_result ResetToZero(SKzHisto* h);
    static kz_result Free(SKzHisto* h);
    static kz_result EstimateComponentWeights(SKzHisto* h, double* weights);
    // Counts the picture (added to the counters unless reset).
    static void Calculate(SKzHisto* h, SKzPicBuf* pic, bool reset);
    static void CalculateAndRepair(SKzHisto* h, SKzPicBuf* pic, bool reset);
    // Counts a float picture into a histogram shaped beforehand for its
    // component count (at most 16 bits): the block is cleared, the picture's
    // range (measured and stored when both ends are 0, the lower end taken
    // at most 0) is spread over the bins; NaN, infinities and the invalid
    // marker are skipped. The flag is not read.
    static void Calculate(SKzHisto* h, SKzFloatPicBuf* pic, bool reset);
    // -9 when bits, component counts or counter widths differ.
    static kz_result Add(SKzHisto* dst, SKzHisto* src);
    static kz_result GetLowHighFreqAbs(const SKzHisto* h, unsigned* low, unsigned* high, unsigned lowCount,
                                       unsigned highCount);
    static kz_result GetLowHighAbs(const SKzHisto* h, unsigned* low, unsigned* high, unsigned lowCount,
                                   unsigned highCount);
    static kz_result GetLowHigh(const SKzHisto* h, unsigned* low, unsigned* high, double lowFraction,
                                double highFraction);
    static kz_result GetSumLowHigh(unsigned* low, unsigned* high, unsigned row, unsigned count, const SKzHisto* h);
    // The counter, or -4 (null histogram, row or bin out of range), -9 (counter
    // width neither 4 nor 8).
    static i64 GetValue(const SKzHisto* h, unsigned row, unsigned bin);
    static i64 GetMeanIndex(const SKzHisto* h, unsigned row);
    // count (0..3) Otsu thresholds of a one-component histogram.
    static kz_result GetOtsuThreshold(unsigned* out, unsigned count, const SKzHisto* h);
};

// The searches behind GetOtsuThreshold over cumulative probabilities and
// moments of `bins` bins.
KZ_EXPORT void OtsuHistoThres_1(unsigned* out, double* cumProb, double* cumMoment, unsigned bins);
KZ_EXPORT void OtsuHistoThres_2(unsigned* out, double* cumProb, double* cumMoment, unsigned bins);
KZ_EXPORT void OtsuHistoThres_3(unsigned* out, double* cumProb, double* cumMoment, unsigned bins);
