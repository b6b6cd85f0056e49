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

}  // namespace quorel::text
