#pragma once
// The texts the conversion shows to the user, as the recorder's software words them.

namespace zentrova::messages {

inline constexpr const char* kAboutMenu = "&About Zentrova...";
inline constexpr const char* kNoInputName = "Please input the ZR file name!";
inline constexpr const char* kNoOutputName = "Please input the AVI file name!";
inline constexpr const char* kBadOutputName = "Please check the AVI file name(*.avi)!";
inline constexpr const char* kOpenFailed = "File open failed!";
inline constexpr const char* kConvertFailed = "File convert failed!";
inline constexpr const char* kBadFormat = "Unavailable format!";
inline constexpr const char* kSaving = "Saving the AVI file! Please waiting...";
inline constexpr const char* kSaved = "File saved!";

}  // namespace zentrova::messages
