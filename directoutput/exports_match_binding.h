// Included after a library's `extern "C"` block of the 22 DirectOutput exports (the simulated and the
// recording library): each export must keep the signature the module's binding calls it with.
#pragma once

#include <type_traits>

#include "directoutput/directoutput_api.h"

static_assert(std::is_same_v<decltype(DirectOutput_Initialize), vexlan::directoutput::InitializeFn>);
static_assert(std::is_same_v<decltype(DirectOutput_Deinitialize), vexlan::directoutput::DeinitializeFn>);
static_assert(std::is_same_v<decltype(DirectOutput_RegisterDeviceCallback), vexlan::directoutput::RegisterDeviceCallbackFn>);
static_assert(std::is_same_v<decltype(DirectOutput_Enumerate), vexlan::directoutput::EnumerateFn>);
static_assert(std::is_same_v<decltype(DirectOutput_RegisterPageCallback), vexlan::directoutput::RegisterPageCallbackFn>);
static_assert(std::is_same_v<decltype(DirectOutput_RegisterSoftButtonCallback), vexlan::directoutput::RegisterSoftButtonCallbackFn>);
static_assert(std::is_same_v<decltype(DirectOutput_GetDeviceType), vexlan::directoutput::GetDeviceTypeFn>);
static_assert(std::is_same_v<decltype(DirectOutput_GetDeviceInstance), vexlan::directoutput::GetDeviceInstanceFn>);
static_assert(std::is_same_v<decltype(DirectOutput_SetProfile), vexlan::directoutput::SetProfileFn>);
static_assert(std::is_same_v<decltype(DirectOutput_AddPage), vexlan::directoutput::AddPageFn>);
static_assert(std::is_same_v<decltype(DirectOutput_RemovePage), vexlan::directoutput::RemovePageFn>);
static_assert(std::is_same_v<decltype(DirectOutput_SetLed), vexlan::directoutput::SetLedFn>);
static_assert(std::is_same_v<decltype(DirectOutput_SetString), vexlan::directoutput::SetStringFn>);
static_assert(std::is_same_v<decltype(DirectOutput_SetImage), vexlan::directoutput::SetImageFn>);
static_assert(std::is_same_v<decltype(DirectOutput_SetImageFromFile), vexlan::directoutput::SetImageFromFileFn>);
static_assert(std::is_same_v<decltype(DirectOutput_StartServer), vexlan::directoutput::StartServerFn>);
static_assert(std::is_same_v<decltype(DirectOutput_CloseServer), vexlan::directoutput::CloseServerFn>);
static_assert(std::is_same_v<decltype(DirectOutput_SendServerMsg), vexlan::directoutput::SendServerMsgFn>);
static_assert(std::is_same_v<decltype(DirectOutput_SendServerFile), vexlan::directoutput::SendServerFileFn>);
static_assert(std::is_same_v<decltype(DirectOutput_SaveFile), vexlan::directoutput::SaveFileFn>);
static_assert(std::is_same_v<decltype(DirectOutput_DisplayFile), vexlan::directoutput::DisplayFileFn>);
static_assert(std::is_same_v<decltype(DirectOutput_DeleteFile), vexlan::directoutput::DeleteFileFn>);
