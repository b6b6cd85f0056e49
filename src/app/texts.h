// Every text the main window shows, in one table, so that each can be checked at a glance.
// Messages are shown exactly as they stand here (blanks and line feeds included).
#pragma once

namespace quorel::text {

// ---- Control captions as designed (the view sets them when it creates the controls) ----
inline constexpr char kDesignCaption[] = "Quorel";
inline constexpr char kSelectDriveLabel[] = "Please select target drive :";
inline constexpr char kUpdateButton[] = "&Update";
inline constexpr char kCloseButton[] = "&Close";
inline constexpr char kRevisionPlaceholder[] = "XXXX";
inline constexpr char kMessagePlaceholder[] = "Message";
inline constexpr char kPercentPlaceholder[] = "100%";
inline constexpr char kYesButton[] = "&Yes";
inline constexpr char kNoButton[] = "&No";

// ---- Message dialog captions, by kind ----
inline constexpr char kCaptionWarning[] = "Warning";
inline constexpr char kCaptionError[] = "Error";
inline constexpr char kCaptionInformation[] = "Information";

// ---- Start-up ----
inline constexpr char kNoFirmware[] = "No F/W in executable !";

// Shown before the fault that the package check names.
inline constexpr char kInvalidPackage[] =
    "The firmware package carried in this program cannot be used.\n\n";

// A sealed package that is no longer the one that was packed, or whose seal cannot be read.
inline constexpr char kPackageDigestMismatch[] =
    "The firmware package carried in this program is damaged (its checksum does not match). "
    "Download the update again.";
inline constexpr char kPackageSealUnreadable[] =
    "The firmware package carried in this program is damaged (its seal cannot be read). "
    "Download the update again.";

// Shown by a second copy of the program, which then ends.
inline constexpr char kAlreadyRunning[] =
    "The firmware update program is already running.\n\n"
    "Only one copy may run at a time, since both would use the same drives.";

// The notice: kNoticeLead, the drive name, kNoticeDriveEnd, kNoticeHeading, the two items,
// kNoticeItem3 when NBWARNING is 1, and kNoticeQuestion.
inline constexpr char kNoticeLead[] = "This flash utility only supports ";
inline constexpr char kNoticeDriveEnd[] = " drive.\n\n";
inline constexpr char kNoticeHeading[] = "NOTICE : \n\n";
inline constexpr char kNoticeItem1[] =
    "1> Please REMOVE disc and close all applications before running this utility !\n";
inline constexpr char kNoticeItem2[] =
    "2> Don't turn off the system while flash is in progress. \n";
inline constexpr char kNoticeItem3[] =
    "3> Don't remove the adapter and battery during F/W reflash processing. \n";
inline constexpr char kNoticeQuestion[] = "\nDo you wish to continue ?";

// ---- Drive list ----
// The list engine could not be created: a plain platform message box.
inline constexpr char kDeviceInitFailed[] = "Device object initialize failed !";
inline constexpr char kDeviceInitFailedCaption[] = "Error ...";

// No drive may be updated: kNoMatch, kNoMatchLead, the drive name, kNoMatchDriveEnd,
// kDetectedDrives and one list line per detected drive, each followed by a line feed.
inline constexpr char kNoMatch[] = "No matched drive detected !\n";
inline constexpr char kNoMatchLead[] = "This utility is only for ";
inline constexpr char kNoMatchDriveEnd[] = " drive.\n\n";
inline constexpr char kDetectedDrives[] = "Detected drives :\n";

// adapter, path, target, lun, drive letter (2 characters at most), identification, revision.
inline constexpr char kListLineFormat[] = "%2d-%d-%d-%d %.2s%24s %4s";

inline constexpr char kNotAllowed[] = "This drive is not allowed to be updated.";
// 13 blanks between "from" and "to": the revision labels sit over them.
inline constexpr char kWillBeUpdated[] = "It will be updated from             to";

// ---- Update ----
inline constexpr char kAlreadyUpdated[] = "Your drive's Firmware is already the most updated !\n ";
inline constexpr char kContinueQuestion[] = "Do you wish to continue ?";

inline constexpr char kCheckDiscTray[] = "Check Disc & Tray Status...";
inline constexpr char kTrayOut[] = "Tray Out ...";
inline constexpr char kRemoveDisc[] = "Please remove the disc.";
inline constexpr char kDiscLocked[] =
    "Disc detected in drive. Unable to eject the disc , maybe locked by other program\n\n"
    "Please remove the disc manually.";
inline constexpr char kTrayIn[] = "Tray In ...";
inline constexpr char kWaitingReady[] = "Waiting Drive Ready ...";
inline constexpr char kPushTrayIn[] = "Please push the tray in.";

// ---- Progress and completion ----
inline constexpr char kProgramming[] = "Programming ";  // followed by 0 to 9 full stops
inline constexpr char kProgrammingFull[] = "Programming ..........";
inline constexpr char kPercentSuffix[] = " %";
inline constexpr char kPercentZero[] = "0 %";
inline constexpr char kPercentFull[] = "100 %";
inline constexpr char kInquiry[] = "Inquiry ...";
inline constexpr char kDone[] = "Done.";
inline constexpr char kFlashFailed[] =
    "Unable to flash firmware. Please contact with your vendor !";
inline constexpr char kFlashSucceeded[] = "Firmware has been updated successfully !";
// Follows kFlashFailed when a drive was refused this build's placeholder part blocks.
inline constexpr char kPlaceholderPartBlocks[] =
    "\n\nNothing was sent to the drive: this program carries placeholder part blocks, not the "
    "drive maker's data, and updates only the simulated test drive.";

// Follows kFlashFailed when the system refused a command to a drive with access denied.
inline constexpr char kAccessDenied[] =
    "\n\nThe system refused a command to the drive: this program lacks the rights to send it. "
    "Run it as administrator (under Wine on Linux, as root).";

// Follows kFlashFailed when a drive may have acted on the final command without confirming it.
inline constexpr char kProgramUnconfirmed[] =
    "\n\nA drive did not confirm the final command and may have been updated all the same. "
    "Restart the computer, then check the firmware revision the drive reports.";

// ---- Unattended use and the log ----
// quorel.exe /? : the one message box of the switches (caption kDesignCaption).
inline constexpr char kSwitchesHelp[] =
    "Switches (case does not matter; - may stand for /):\n\n"
    "/S or /quiet\tno window and no message: updates every drive that may be updated\n"
    "/force\t\talso updates a drive that already has the new firmware\n"
    "/reboot\t\trestarts the computer when the package asks for it (with /S)\n"
    "/log=PATH\tappends a log of the run to PATH\n"
    "/check\t\tno window and no message: only tells whether an update applies (exit 100)\n"
    "/?\t\tshows this text\n\n"
    "Exit codes: 0 updated; 3010 updated, restart needed; 1641 updated, restart started;\n"
    "1603 an update failed; 1642 no drive may be updated; 1620 the package cannot be used;\n"
    "1618 another copy is running; 1639 bad switches; 1602 answered no;\n"
    "with /check: 0 nothing to do, 100 an update applies.";

// Follows kFlashFailed in quorel-flash instead of kAccessDenied.
inline constexpr char kAccessDeniedAsRoot[] =
    "\n\nThe system refused a command to the drive: this program lacks the rights to send it. "
    "Run it as root.";

// Log lines; the fields in the order of their conversions.
inline constexpr char kLogProgram[] = "program %s %s";  // name, version
inline constexpr char kLogCommandLine[] = "command line: ";
inline constexpr char kLogSystem[] = "system: ";
inline constexpr char kLogPackage[] = "package: \"%s\", new revision %s, %s, part blocks %s, %s";
inline constexpr char kLogSealVerified[] = "sealed, digest verified";
inline constexpr char kLogSealMismatch[] = "sealed, DIGEST MISMATCH";
inline constexpr char kLogSealUnreadable[] = "seal record unreadable";
inline constexpr char kLogUnsealed[] = "unsealed";
inline constexpr char kLogPartsMaker[] = "of the drive maker";
inline constexpr char kLogPartsPlaceholder[] = "placeholder";
inline constexpr char kLogPartsStandIn[] = "stand-in";
inline constexpr char kLogPartsIntact[] = "intact";
inline constexpr char kLogPartsDamaged[] = "DAMAGED";
inline constexpr char kLogPackageRefused[] = "package cannot be used: ";
inline constexpr char kLogTransport[] = "transport: %s";
inline constexpr char kLogAspi[] = "ASPI manager";
inline constexpr char kLogPassThrough[] = "SCSI pass-through";
inline constexpr char kLogDrive[] = "drive %s: \"%s\" revision %s: %s";  // address, identity
inline constexpr char kLogMayUpdate[] = "may be updated to ";
inline constexpr char kLogUpToDate[] = "up to date, may be updated again to ";
inline constexpr char kLogRefusedByRules[] = "not allowed by the package's rules";
inline constexpr char kLogNoDrive[] = "no drive may be updated";
inline constexpr char kLogCheckApplies[] = "check: an update applies";
inline constexpr char kLogCheckNothing[] = "check: nothing to do";
inline constexpr char kLogCheckUnread[] = "check: a drive could not be read";
inline constexpr char kLogDeviceInitFailed[] = "the drives cannot be listed";
inline constexpr char kLogNotice[] = "notice: answered ";
inline constexpr char kLogLeftUpToDate[] = "drive %s: up to date, left alone (no force)";
inline constexpr char kLogStart[] = "drive %s: update started, %s to %s";
inline constexpr char kLogNotStarted[] = "drive %s: not updated: %s";
inline constexpr char kLogNotAddressed[] = "it could not be opened";
inline constexpr char kLogPlaceholderRefused[] = "this program carries placeholder part blocks";
inline constexpr char kLogDiscOrTray[] = "a disc is in the drive or its tray is open";
inline constexpr char kLogSucceeded[] = "drive %s: update succeeded";
inline constexpr char kLogFailed[] = "drive %s: update FAILED";
inline constexpr char kLogReadBack[] = "drive %s: read-back differs: %s";
inline constexpr char kLogLastCommand[] = "drive %s: last command %02X: %s";
inline constexpr char kLogSense[] = "sense %X/%02X/%02X";
inline constexpr char kLogAccessDenied[] = "access denied by the system";
inline constexpr char kLogTimedOut[] = "timed out";
inline constexpr char kLogNotSent[] = "refused before it was sent";
inline constexpr char kLogNoAnswer[] = "failed without sense";
inline constexpr char kLogUnconfirmed[] =
    "drive %s: the final command was not confirmed; the drive may have been updated";
inline constexpr char kLogRevisionAfter[] = "drive %s: revision now %s";
inline constexpr char kLogNoRestart[] = "restart: not asked by the package";
inline constexpr char kLogRestartStarted[] = "restart: asked by the package, started";
inline constexpr char kLogRestartHeld[] = "restart: asked by the package, left to the caller";
inline constexpr char kLogRestartRefused[] = "restart: asked by the package, not done";
inline constexpr char kLogMessage[] = "message: ";
inline constexpr char kLogError[] = "error: ";
inline constexpr char kLogExitCode[] = "exit code %d";

}  // namespace quorel::text
