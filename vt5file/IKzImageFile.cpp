// Default answers of the image-file interfaces.
#include "vt5file/IKzImageFile.h"

int IKzInputImageFile::SetConversionParameters(int) { return KZ_ERR_NOT_SUPPORTED; }

int IKzInputImageFile::GetAcqTime(double& time)
{
    time = 0.0;
    return KZ_ERR_NOT_SUPPORTED;
}

int IKzOutputImageFile::SetImageBinary(void*) { return KZ_ERR_NOT_SUPPORTED; }

int IKzOutputImageFile::SetImageCalibration(u32, double, double, bool, const CKzStringW&)
{
    return KZ_ERR_NOT_SUPPORTED;
}
