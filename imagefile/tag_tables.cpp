// Tag names of TIFF 6.0, TIFF/EP, EXIF 2.2, DNG and GeoTIFF; the EXIF macro names; GPS tags;
// Canon CRW heap tags.
#include "imagefile/tag_tables.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace cw {
namespace {

constexpr TagRow kTagDef[] = {
    {0x1, "InteroperabilityIndex\tIdentifies the interoperability rule set"},
    {0x2, "InteroperabilityVersion\tVersion of the interoperability rule set"},
    {0x2e, "RW2preview\tRW2 preview JPEG"},
    {0xfe, "NewSubfileType\tKind of data in this subfile"},
    {0xff, "SubfileType\tKind of data in this subfile (old form)"},
    {0x100, "ImageWidth\tNumber of columns in the image"},
    {0x101, "ImageLength\tNumber of rows in the image"},
    {0x102, "BitsPerSample\tNumber of bits per component"},
    {0x103, "Compression\tCompression scheme used on the image data"},
    {0x106, "PhotometricInterpretation\tColor space of the image data"},
    {0x107, "Threshholding\tTechnique used to convert gray to black and white"},
    {0x108, "CellWidth\tWidth of the dithering or halftoning matrix"},
    {0x109, "CellLength\tLength of the dithering or halftoning matrix"},
    {0x10a, "FillOrder\tLogical order of bits within a byte"},
    {0x10d, "DocumentName\tName of the document from which the image was scanned"},
    {0x10e, "ImageDescription\tTitle of the image"},
    {0x10f, "Make\tManufacturer of the recording equipment"},
    {0x110, "Model\tModel name of the recording equipment"},
    {0x111, "StripOffsets\tByte offset of each strip"},
    {0x112, "Orientation\tOrientation of the image with respect to rows and columns"},
    {0x115, "SamplesPerPixel\tNumber of components per pixel"},
    {0x116, "RowsPerStrip\tNumber of rows per strip"},
    {0x117, "StripByteCounts\tBytes in each strip after compression"},
    {0x118, "MinSampleValue\tMinimum component value used"},
    {0x119, "MaxSampleValue\tMaximum component value used"},
    {0x11a, "XResolution\tPixels per resolution unit in the width direction"},
    {0x11b, "YResolution\tPixels per resolution unit in the height direction"},
    {0x11c, "PlanarConfiguration\tHow the components of each pixel are stored"},
    {0x11d, "PageName\tName of the page from which the image was scanned"},
    {0x11e, "XPosition\tX position of the image"},
    {0x11f, "YPosition\tY position of the image"},
    {0x120, "FreeOffsets\tByte offsets of unused string of bytes"},
    {0x121, "FreeByteCounts\tByte counts of unused string of bytes"},
    {0x122, "GrayResponseUnit\tPrecision of the gray response curve"},
    {0x123, "GrayResponseCurve\tOptical density of gray levels"},
    {0x124, "T4Options\tOptions for Group 3 fax compression"},
    {0x125, "T6Options\tOptions for Group 4 fax compression"},
    {0x128, "ResolutionUnit\tUnit of XResolution and YResolution"},
    {0x129, "PageNumber\tPage number of the page from which the image was scanned"},
    {0x12d, "TransferFunction\tTransfer function for the image"},
    {0x131, "Software\tSoftware used to create the image"},
    {0x132, "DateTime\tDate and time of image creation or change"},
    {0x13b, "Artist\tPerson who created the image"},
    {0x13c, "HostComputer\tComputer or operating system used to create the image"},
    {0x13d, "Predictor\tPredictor applied before compression"},
    {0x13e, "WhitePoint\tChromaticity of the white point"},
    {0x13f, "PrimaryChromaticities\tChromaticities of the primaries"},
    {0x140, "ColorMap\tColor map for palette color images"},
    {0x141, "HalftoneHints\tRange of highlight to shadow for halftoning"},
    {0x142, "TileWidth\tColumns in each tile"},
    {0x143, "TileLength\tRows in each tile"},
    {0x144, "TileOffsets\tByte offset of each tile"},
    {0x145, "TileByteCounts\tBytes in each tile after compression"},
    {0x14a, "SubIFDs\tOffsets of child image file directories"},
    {0x14c, "InkSet\tSet of inks used in a separated image"},
    {0x14d, "InkNames\tNames of the inks used in a separated image"},
    {0x14e, "NumberOfInks\tNumber of inks"},
    {0x150, "DotRange\tComponent values for 0% and 100% dots"},
    {0x151, "TargetPrinter\tPrinting environment of a separated image"},
    {0x152, "ExtraSamples\tMeaning of extra components"},
    {0x153, "SampleFormat\tHow to interpret each data sample"},
    {0x154, "SMinSampleValue\tMinimum sample value"},
    {0x155, "SMaxSampleValue\tMaximum sample value"},
    {0x156, "TransferRange\tExpands the range of the transfer function"},
    {0x157, "ClipPath\tClipping path of the image"},
    {0x158, "XClipPathUnits\tHorizontal units of the clipping path"},
    {0x159, "YClipPathUnits\tVertical units of the clipping path"},
    {0x15a, "Indexed\tImage uses a color map"},
    {0x15b, "JPEGTables\tShared JPEG quantization and Huffman tables"},
    {0x15f, "OPIProxy\tImage is a low resolution proxy"},
    {0x200, "JPEGProc\tJPEG process used"},
    {0x201, "JPEGInterchangeFormat\tOffset of the JPEG thumbnail"},
    {0x202, "JPEGInterchangeFormatLength\tBytes of the JPEG thumbnail"},
    {0x203, "JPEGRestartInterval\tJPEG restart interval"},
    {0x205, "JPEGLosslessPredictors\tJPEG lossless predictor per component"},
    {0x206, "JPEGPointTransforms\tJPEG point transform per component"},
    {0x207, "JPEGQTables\tOffsets of the JPEG quantization tables"},
    {0x208, "JPEGDCTables\tOffsets of the JPEG DC Huffman tables"},
    {0x209, "JPEGACTables\tOffsets of the JPEG AC Huffman tables"},
    {0x211, "YCbCrCoefficients\tTransformation from RGB to YCbCr"},
    {0x212, "YCbCrSubSampling\tSubsampling of the chroma components"},
    {0x213, "YCbCrPositioning\tPosition of chroma relative to luma"},
    {0x214, "ReferenceBlackWhite\tReference black and white point values"},
    {0x22f, "StripRowCounts\tRows in each strip"},
    {0x2bc, "XMP\tXMP metadata packet"},
    {0x800d, "ImageID\tIdentifier of the full-resolution original"},
    {0x80e3, "Matteing\tImage has an alpha channel (old form)"},
    {0x80e4, "DataType\tSample data type (old form)"},
    {0x80e5, "ImageDepth\tDepth of a volume image"},
    {0x80e6, "TileDepth\tDepth of each tile of a volume image"},
    {0x828d, "CFARepeatPatternDim\tDimensions of the color filter array pattern"},
    {0x828e, "CFAPattern?\tColor filter array pattern"},
    {0x828f, "BatteryLevel\tBattery level at capture"},
    {0x8298, "Copyright\tCopyright holder"},
    {0x829a, "ExposureTime\tExposure time in seconds"},
    {0x829d, "FNumber\tF number"},
    {0x830e, "ModelPixelScaleTag\tGeoTIFF pixel scale in model space"},
    {0x83bb, "IPTC\tIPTC-NAA record"},
    {0x8480, "IntergraphMatrixTag\tGeoTIFF transformation matrix (old form)"},
    {0x8482, "ModelTiepointTag\tGeoTIFF raster to model tie points"},
    {0x84e0, "Site\tSite where the image was made"},
    {0x84e1, "ColorSequence\tSequence of colors of the separations"},
    {0x84e2, "IT8Header\tIT8 header"},
    {0x84e3, "RasterPadding\tRaster padding"},
    {0x84e4, "BitsPerRunLength\tBits per run length"},
    {0x84e5, "BitsPerExtendedRunLength\tBits per extended run length"},
    {0x84e6, "ColorTable\tColor table"},
    {0x84e7, "ImageColorIndicator\tImage color indicator"},
    {0x84e8, "BackgroundColorIndicator\tBackground color indicator"},
    {0x84e9, "ImageColorValue\tImage color value"},
    {0x84ea, "BackgroundColorValue\tBackground color value"},
    {0x84eb, "PixelIntensityRange\tPixel intensity range"},
    {0x84ec, "TransparencyIndicator\tTransparency indicator"},
    {0x84ed, "ColorCharacterization\tColor characterization"},
    {0x84ee, "HCUsage\tHigh-resolution contone usage"},
    {0x85d8, "ModelTransformationTag\tGeoTIFF model transformation matrix"},
    {0x8649, "Photoshop\tPhotoshop image resources"},
    {0x8769, "Exif IFD\tOffset of the EXIF image file directory"},
    {0x8773, "InterColorProfile\tICC color profile"},
    {0x87af, "GeoKeyDirectoryTag\tGeoTIFF key directory"},
    {0x87b0, "GeoDoubleParamsTag\tGeoTIFF double-precision parameters"},
    {0x87b1, "GeoAsciiParamsTag\tGeoTIFF text parameters"},
    {0x8822, "ExposureProgram\tClass of program used to set the exposure"},
    {0x8824, "SpectralSensitivity\tSpectral sensitivity of each channel"},
    {0x8825, "GPS IFD\tOffset of the GPS image file directory"},
    {0x8827, "ISOSpeedRatings\tISO speed"},
    {0x8828, "OECF\tOpto-electric conversion function"},
    {0x8829, "Interlace\tField number of a multi-field image"},
    {0x882a, "TimeZoneOffset\tHours from UTC of the capture time"},
    {0x882b, "SelfTimerMode\tSeconds of self-timer delay"},
    {0x9000, "ExifVersion\tEXIF version"},
    {0x9003, "DateTimeOriginal\tDate and time the original image was taken"},
    {0x9004, "DateTimeDigitized\tDate and time the image was stored digitally"},
    {0x9101, "ComponentsConfiguration\tMeaning of each component"},
    {0x9102, "CompressedBitsPerPixel\tImage compression mode"},
    {0x9201, "ShutterSpeedValue\tShutter speed (APEX)"},
    {0x9202, "ApertureValue\tLens aperture (APEX)"},
    {0x9203, "BrightnessValue\tBrightness (APEX)"},
    {0x9204, "ExposureBiasValue\tExposure bias (APEX)"},
    {0x9205, "MaxApertureValue\tSmallest F number of the lens (APEX)"},
    {0x9206, "SubjectDistance\tDistance to the subject in meters"},
    {0x9207, "MeteringMode\tMetering mode"},
    {0x9208, "LightSource\tKind of light source"},
    {0x9209, "Flash\tFlash status"},
    {0x920a, "FocalLength\tFocal length of the lens in millimeters"},
    {0x920b, "FlashEnergy\tFlash energy (TIFF/EP)"},
    {0x920c, "SpatialFrequencyResponse\tSpatial frequency response (TIFF/EP)"},
    {0x920d, "Noise\tNoise measurement values"},
    {0x920e, "FocalPlaneXResolution\tFocal plane X resolution (TIFF/EP)"},
    {0x920f, "FocalPlaneYResolution\tFocal plane Y resolution (TIFF/EP)"},
    {0x9210, "FocalPlaneResolutionUnit\tFocal plane resolution unit (TIFF/EP)"},
    {0x9211, "ImageNumber\tNumber assigned to the image"},
    {0x9212, "SecurityClassification\tSecurity classification"},
    {0x9213, "ImageHistory\tRecord of what has been done to the image"},
    {0x9214, "SubjectArea\tLocation and area of the main subject"},
    {0x9215, "ExposureIndex\tExposure index (TIFF/EP)"},
    {0x9216, "TIFF/EPStandardID\tTIFF/EP standard version"},
    {0x9217, "SensingMethod\tImage sensor type (TIFF/EP)"},
    {0x927c, "MakerNote\tManufacturer notes"},
    {0x9286, "UserComment\tUser comments"},
    {0x9290, "SubSecTime\tFractions of seconds for DateTime"},
    {0x9291, "SubSecTimeOriginal\tFractions of seconds for DateTimeOriginal"},
    {0x9292, "SubSecTimeDigitized\tFractions of seconds for DateTimeDigitized"},
    {0xa000, "FlashpixVersion\tSupported Flashpix version"},
    {0xa001, "ColorSpace\tColor space information"},
    {0xa002, "PixelXDimension\tValid image width"},
    {0xa003, "PixelYDimension\tValid image height"},
    {0xa004, "RelatedSoundFile\tRelated audio file"},
    {0xa005, "Interoperability IFD\tOffset of the interoperability directory"},
    {0xa20b, "FlashEnergy\tStrobe energy at capture"},
    {0xa20c, "SpatialFrequencyResponse\tSpatial frequency table and response"},
    {0xa20e, "FocalPlaneXResolution\tFocal plane X resolution"},
    {0xa20f, "FocalPlaneYResolution\tFocal plane Y resolution"},
    {0xa210, "FocalPlaneResolutionUnit\tFocal plane resolution unit"},
    {0xa214, "SubjectLocation\tSubject location"},
    {0xa215, "ExposureIndex\tExposure index"},
    {0xa217, "SensingMethod\tImage sensor type"},
    {0xa300, "FileSource\tImage source"},
    {0xa301, "SceneType\tScene type"},
    {0xa302, "CFAPattern\tColor filter array pattern"},
    {0xa401, "CustomRendered\tCustom image processing"},
    {0xa402, "ExposureMode\tExposure mode"},
    {0xa403, "WhiteBalance\tWhite balance"},
    {0xa404, "DigitalZoomRatio\tDigital zoom ratio"},
    {0xa405, "FocalLengthIn35mmFilm\tFocal length in 35 mm film"},
    {0xa406, "SceneCaptureType\tScene capture type"},
    {0xa407, "GainControl\tGain control"},
    {0xa408, "Contrast\tContrast"},
    {0xa409, "Saturation\tSaturation"},
    {0xa40a, "Sharpness\tSharpness"},
    {0xa40b, "DeviceSettingDescription\tDevice settings description"},
    {0xa40c, "SubjectDistanceRange\tSubject distance range"},
    {0xa420, "ImageUniqueID\tUnique image identifier"},
    {0xa430, "CameraOwnerName\tOwner of the camera"},
    {0xa431, "BodySerialNumber\tSerial number of the camera body"},
    {0xa432, "LensSpecification\tLens focal lengths and apertures"},
    {0xa433, "LensMake\tLens manufacturer"},
    {0xa434, "LensModel\tLens model name"},
    {0xa435, "LensSerialNumber\tSerial number of the lens"},
    {0xc4a5, "PrintIM\tPrint image matching data"},
    {0xc612, "DNGVersion\tDNG version"},
    {0xc613, "DNGBackwardVersion\tOldest DNG version the file is compatible with"},
    {0xc614, "UniqueCameraModel\tUnique camera model name"},
    {0xc615, "LocalizedCameraModel\tLocalized camera model name"},
    {0xc616, "CFAPlaneColor\tColor of each CFA plane"},
    {0xc617, "CFALayout\tSpatial layout of the CFA"},
    {0xc618, "LinearizationTable\tLinearization lookup table"},
    {0xc619, "BlackLevelRepeatDim\tRepeat pattern size of BlackLevel"},
    {0xc61a, "BlackLevel\tZero light encoding level"},
    {0xc61b, "BlackLevelDeltaH\tHorizontal black level differences"},
    {0xc61c, "BlackLevelDeltaV\tVertical black level differences"},
    {0xc61d, "WhiteLevel\tFully saturated encoding level"},
    {0xc61e, "DefaultScale\tDefault scale factors"},
    {0xc61f, "DefaultCropOrigin\tOrigin of the final image area"},
    {0xc620, "DefaultCropSize\tSize of the final image area"},
    {0xc621, "ColorMatrix1\tXYZ to camera color space, first illuminant"},
    {0xc622, "ColorMatrix2\tXYZ to camera color space, second illuminant"},
    {0xc623, "CameraCalibration1\tCalibration matrix, first illuminant"},
    {0xc624, "CameraCalibration2\tCalibration matrix, second illuminant"},
    {0xc625, "ReductionMatrix1\tDimensionality reduction, first illuminant"},
    {0xc626, "ReductionMatrix2\tDimensionality reduction, second illuminant"},
    {0xc627, "AnalogBalance\tAnalog gain applied to the raw values"},
    {0xc628, "AsShotNeutral\tNeutral white balance in camera coordinates"},
    {0xc629, "AsShotWhiteXY\tWhite balance as chromaticity coordinates"},
    {0xc62a, "BaselineExposure\tBaseline exposure compensation"},
    {0xc62b, "BaselineNoise\tRelative noise level"},
    {0xc62c, "BaselineSharpness\tRelative sharpening"},
    {0xc62d, "BayerGreenSplit\tGreen channel difference of Bayer sensors"},
    {0xc62e, "LinearResponseLimit\tFraction of the encoding range that is linear"},
    {0xc62f, "CameraSerialNumber\tCamera serial number"},
    {0xc630, "LensInfo\tLens focal lengths and apertures"},
    {0xc631, "ChromaBlurRadius\tChroma blur radius"},
    {0xc632, "AntiAliasStrength\tStrength of the anti-alias filter"},
    {0xc633, "ShadowScale\tShadow scale"},
    {0xc634, "DNGPrivateData\tPrivate data of the DNG writer"},
    {0xc635, "MakerNoteSafety\tWhether the maker note is safe to copy"},
    {0xc65a, "CalibrationIlluminant1\tIlluminant of the first calibration"},
    {0xc65b, "CalibrationIlluminant2\tIlluminant of the second calibration"},
    {0xc65c, "BestQualityScale\tScale for best quality"},
    {0xc65d, "RawDataUniqueID\tUnique identifier of the raw image data"},
    {0xc68b, "OriginalRawFileName\tFile name of the original raw file"},
    {0xc68c, "OriginalRawFileData\tContents of the original raw file"},
    {0xc68d, "ActiveArea\tActive area of the sensor"},
    {0xc68e, "MaskedAreas\tMasked areas of the sensor"},
    {0xc68f, "AsShotICCProfile\tICC profile of the as-shot rendering"},
    {0xc690, "AsShotPreProfileMatrix\tMatrix applied before the as-shot profile"},
    {0xc691, "CurrentICCProfile\tICC profile of the current rendering"},
    {0xc692, "CurrentPreProfileMatrix\tMatrix applied before the current profile"},
};

// EXIF values the macro language can name, with the tags that carry them.
constexpr TagRow kTagDefExif[] = {
    {0xa7, "Actuations"},           {0x9202, "ApertureValue"},
    {0x13b, "Artist"},              {0xc62f, "CameraSerialNumber"},
    // The body serial of the EXIF directory (today's cameras, CR3 and HEIF files) answers
    // the same macro when the DNG tag is absent: IFD0 is read first.
    {0xa431, "CameraSerialNumber"},
    {0xa408, "Contrast"},           {0x8298, "Copyright"},
    {0xa401, "CustomRendered"},     {0x132, "DateTimeChanged"},
    {0x9003, "DateTimeOriginal"},   {0x9004, "DateTimeDigitized"},
    // The zone of the original date ("+02:00"), recorded for sidecars' creation dates; no
    // macro names it.
    {0x9011, "OffsetTimeOriginal"},
    {0xa404, "DigitalZoomRatio"},   {0x9204, "ExposureBiasValue"},
    {0xa402, "ExposureMode"},       {0x8822, "ExposureProgram"},
    {0x829a, "ExposureTime"},       {0x9209, "Flash"},
    {0x829d, "FNumber"},            {0x920a, "FocalLength"},
    {0xa405, "FocalLengthIn35mmFilm"}, {0xa407, "GainControl"},
    {0xa420, "ImageUniqueID"},      {0x8827, "ISOSpeedRatings"},
    {0x9208, "LightSource"},        {0x10f, "Make"},
    {0x9207, "MeteringMode"},       {0x110, "Model"},
    {0x9205, "MaxApertureValue"},   {0x112, "Orientation"},
    {0x106, "PhotometricInterpretation"}, {0xa409, "Saturation"},
    {0xa406, "SceneCaptureType"},   {0xa301, "SceneType"},
    {0xa217, "SensingMethod"},      {0xa40a, "Sharpness"},
    {0x9201, "ShutterSpeedValue"},  {0x131, "Software"},
    {0xa40c, "SubjectDistanceRange"}, {0x9290, "SubSecTime"},
    {0x9291, "SubSecTimeOriginal"}, {0x9292, "SubSecTimeDigitized"},
    {0xa403, "WhiteBalance"},       {0x927c, "MakerNote"},
};

constexpr TagRow kTagDefGps[] = {
    {0x0, "GPSVersionID"},         {0x1, "GPSLatitudeRef"},     {0x2, "GPSLatitude"},
    {0x3, "GPSLongitudeRef"},      {0x4, "GPSLongitude"},       {0x5, "GPSAltitudeRef"},
    {0x6, "GPSAltitude"},          {0x7, "GPSTimeStamp"},       {0x8, "GPSSatellites"},
    {0x9, "GPSStatus"},            {0xa, "GPSMeasureMode"},     {0xb, "GPSDOP"},
    {0xc, "GPSSpeedRef"},          {0xd, "GPSSpeed"},           {0xe, "GPSTrackRef"},
    {0xf, "GPSTrack"},             {0x10, "GPSImgDirectionRef"}, {0x11, "GPSImgDirection"},
    {0x12, "GPSMapDatum"},         {0x13, "GPSDestLatitudeRef"}, {0x14, "GPSDestLatitude"},
    {0x15, "GPSDestLongitudeRef"}, {0x16, "GPSDestLongitude"},  {0x17, "GPSDestBearingRef"},
    {0x18, "GPSDestBearing"},      {0x19, "GPSDestDistanceRef"}, {0x1a, "GPSDestDistance"},
    {0x1b, "GPSProcessingMethod"}, {0x1c, "GPSAreaInformation"}, {0x1d, "GPSDateStamp"},
    {0x1e, "GPSDifferential"},
};

constexpr TagRow kTagDefCrw[] = {
    {0x0, "NullRecord"},           {0x1, "FreeBytes"},
    {0x32, "CanonColorInfo1"},     {0x805, "CanonFileDescription"},
    {0x80a, "CanonRawMakeModel"},  {0x80b, "CanonFirmwareVersion"},
    {0x80c, "ComponentVersion"},   {0x80d, "ROMOperationMode"},
    {0x810, "OwnerName"},          {0x815, "CanonImageType"},
    {0x816, "OriginalFileName"},   {0x817, "ThumbnailFileName"},
    {0x100a, "TargetImageType"},   {0x1010, "ShutterReleaseMethod"},
    {0x1011, "ShutterReleaseTiming"}, {0x1016, "ReleaseSetting"},
    {0x101c, "BaseISO"},           {0x1028, "CanonFlashInfo?"},
    {0x1029, "FocalLength"},       {0x102a, "CanonShotInfo"},
    {0x102c, "CanonColorInfo2"},   {0x102d, "CanonCameraSettings"},
    {0x1030, "WhiteSample"},       {0x1031, "SensorInfo"},
    {0x1033, "CanonCustomFunctions"}, {0x1038, "CanonPictureInfo"},
    {0x1039, "?"},                 {0x1093, "CanonFileInfo"},
    {0x10a8, "?"},                 {0x10a9, "ColorBalance"},
    {0x10aa, "?"},                 {0x10ae, "ColorTemperature"},
    {0x10b4, "ColorSpace"},        {0x10b5, "RawJpgInfo"},
    {0x10c0, "?"},                 {0x10c1, "?"},
    {0x1803, "ImageFormat"},       {0x1804, "RecordID"},
    {0x1806, "SelfTimerTime"},     {0x1807, "TargetDistanceSetting"},
    {0x180b, "SerialNumber"},      {0x180e, "TimeStamp"},
    {0x1810, "ImageInfo"},         {0x1813, "FlashInfo"},
    {0x1814, "MeasuredEV"},        {0x1817, "FileNumber"},
    {0x1818, "ExposureInfo"},      {0x1834, "CanonModelID"},
    {0x1835, "DecoderTable"},      {0x183b, "SerialNumberFormat"},
    {0x2005, "RawData"},           {0x2007, "JpgFromRaw"},
    {0x2008, "ThumbnailImage"},    {0x2804, "ImageDescription"},
    {0x2807, "CameraObject"},      {0x3002, "ShootingRecord"},
    {0x3003, "MeasuredInfo"},      {0x3004, "CameraSpecification"},
    {0x300a, "ImageProps"},        {0x300b, "ExifInformation"},
};

}  // namespace

long first_repeated_tag(std::span<const TagRow> rows) {
  std::vector<std::uint32_t> tags;
  tags.reserve(rows.size());
  for (const TagRow& r : rows) tags.push_back(r.tag);
  std::sort(tags.begin(), tags.end());
  auto it = std::adjacent_find(tags.begin(), tags.end());
  return it == tags.end() ? -1 : static_cast<long>(*it);
}

TagTable::TagTable(std::span<const TagRow> rows, const char* repeat_format) : rows_(rows) {
  // A repeated tag is a fault in the program itself; it must not ship, so stop at once.
  long repeated = first_repeated_tag(rows);
  if (repeated >= 0) {
    std::fprintf(stderr, repeat_format, static_cast<int>(repeated));
    std::exit(1);
  }
  sorted_.resize(rows.size());
  for (std::uint32_t i = 0; i < sorted_.size(); ++i) sorted_[i] = i;
  std::sort(sorted_.begin(), sorted_.end(),
            [&](std::uint32_t a, std::uint32_t b) { return rows[a].tag < rows[b].tag; });
}

const char* TagTable::find(std::uint32_t tag) const {
  auto it = std::lower_bound(sorted_.begin(), sorted_.end(), tag,
                             [&](std::uint32_t i, std::uint32_t t) { return rows_[i].tag < t; });
  if (it == sorted_.end() || rows_[*it].tag != tag) return nullptr;
  return rows_[*it].text;
}

std::string TagTable::name(std::uint32_t tag) const {
  const char* text = find(tag);
  if (!text) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "[Tag %d]", static_cast<int>(tag));
    return buf;
  }
  const char* tab = text;
  while (*tab && *tab != '\t') ++tab;
  return std::string(text, static_cast<std::size_t>(tab - text));
}

const TagTable& tag_def() {
  static const TagTable table(kTagDef, "tag %d repeated in tag_def\n");
  return table;
}
const TagTable& tag_def_EXIF() {
  static const TagTable table(kTagDefExif, "tag %d repeated in tag_def_EXIF\n");
  return table;
}
const TagTable& tag_def_GPS() {
  static const TagTable table(kTagDefGps, "tag %d repeated in tag_def_GPS\n");
  return table;
}
const TagTable& tag_def_CRW() {
  static const TagTable table(kTagDefCrw, "tag %x repeated in tag_def_CRW\n");
  return table;
}

}  // namespace cw
