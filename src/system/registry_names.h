// The registry keys and values the setup program reads and writes, each named
// once. Key paths are full key paths (system/registry.h); a subkey is
// relative to the key it is joined with.
//
//   HKEY_LOCAL_MACHINE\Software\Qor\Qor_Vex          product key (string resource 2)
//     Setup                                           the record, InUpdating
//       SpecialFiles, RegistryEntries, ProgmanEntries records of the sections
//     Qor_Mon\General                                 monitor "Startup"
//   HKEY_CURRENT_USER\Software\Qor\Qor_Vex
//     Setup                                           ExecuteMailConfWhileUpdate
//     Options                                         NotifyNewVer
//     Qor_Mon\General                                 monitor "Startup"
//   HKEY_LOCAL_MACHINE\Software\Qor\Setup             the maker's key: date stamps,
//                                                     the update component's mark
//   HKEY_LOCAL_MACHINE\SOFTWARE\Qor\Qor_Update\1.0    LastInstalledVersion
#pragma once

namespace qor {

// --- Keys.
constexpr const char kMachineProductKeyPath[] = "HKEY_LOCAL_MACHINE\\Software\\Qor\\Qor_Vex";
constexpr const char kUserProductKeyPath[] = "HKEY_CURRENT_USER\\Software\\Qor\\Qor_Vex";
constexpr const char kRecordSubkey[] = "Setup";  // under the product key
constexpr const char kRecordKeyPath[] = "HKEY_LOCAL_MACHINE\\Software\\Qor\\Qor_Vex\\Setup";
constexpr const char kOptionsKeyPath[] = "HKEY_CURRENT_USER\\Software\\Qor\\Qor_Vex\\Options";
constexpr const char kMonitorSubkey[] = "Qor_Mon\\General";  // under either product key
constexpr const char kMakerKeyPath[] = "HKEY_LOCAL_MACHINE\\Software\\Qor\\Setup";
constexpr const char kMakerSubkey[] = "Software\\Qor\\Setup";  // under HKEY_LOCAL_MACHINE
constexpr const char kUpdateComponentKeyPath[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qor\\Qor_Update\\1.0";

// --- Values of the record (kRecordKeyPath).
constexpr const char kSetupVersionValue[] = "SetupVersion";
constexpr const char kLocalRemoteValue[] = "LocalRemote";
constexpr const char kLocalSourcePathValue[] = "LocalSourcePath";
constexpr const char kInstallPathValue[] = "InstallPath";
constexpr const char kInitialInstallValue[] = "InitialInstall2";
constexpr const char kInetPathValue[] = "InetPath";
constexpr const char kInUpdatingValue[] = "InUpdating";

// --- Values of the maker's key (kMakerKeyPath): the engine date stamps, and
// the mark of an installed update component.
constexpr const char kBaseDateValue[] = "{3C9E1B42-8D07-4A6F-B2C3-5E1F7A9D0C64}";
constexpr const char kEngineDateValue[] = "{7E3D2A10-6C4B-4F8E-9A15-2D7C0B3E8F41}";
constexpr const char kUpdateComponentValue[] = "{5A1C3E77-2B90-4D61-8E2F-0C4B7D9A1F36}";

// --- Other values.
constexpr const char kNotifyNewVerValue[] = "NotifyNewVer";                  // kOptionsKeyPath
constexpr const char kMonitorStartupValue[] = "Startup";                     // kMonitorSubkey
constexpr const char kLastInstalledVersionValue[] = "LastInstalledVersion";  // kUpdateComponentKeyPath

}  // namespace qor
