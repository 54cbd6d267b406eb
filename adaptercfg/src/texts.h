// Texts of adaptercfg that are not in the string table of res/adaptercfg.rc.
#pragma once

namespace adaptercfg::texts {

// Caption of every message box.
constexpr char kMessageCaption[] = "HART Driver Configuration";

// Panel of an adapter entry.
constexpr char kAdapterTypeLabel[] = "FSK Mavix";
constexpr char kSerialLabel[] = "Serial No.";
constexpr char kSearchButton[] = "Search attached devices";
constexpr char kPortLabel[] = "Serial port:";
constexpr char kPortFormat[] = "COM%d";

// Attached-devices dialog.
constexpr char kAttachedTitle[] = "attached USB devices";
constexpr char kSerialRowFormat[] = "%04X";

// About box.
constexpr char kVersionPrefix[] = "modemapi.dll: ";
constexpr char kVersionFormat[] = "%d.%d.%d.%d";
constexpr char kNoVersion[] = "no version information found, ERROR\r\n";

// A serial text that is not 1 to 4 hexadecimal digits; %s is the text.
constexpr char kSerialRejected[] =
    "\"%s\" is not a serial number.\n"
    "Enter the adapter's serial number as 1 to 4 hexadecimal digits (0 to FFFF), without \"0x\".";

// Applying the configuration: the service must have taken every request,
// or the user is told and the dialog stays open with the configuration.
// %s is the service's display name, as the list of services shows it.
constexpr char kServiceUnreachable[] =
    "The configuration was not changed: the service \"%s\" does not answer.\n"
    "Start the service and press OK again, or press Cancel to leave without changes.";
constexpr char kApplyIncomplete[] =
    "The configuration could not be written completely: the service \"%s\" stopped answering.\n"
    "The settings are kept in this dialog; press OK to write them again.";
constexpr char kApplyTooLong[] =
    "The configuration cannot be written: an entry does not fit a request of the service \"%s\".";
// The dialog was ended while the service held one of OK's requests without
// answering.
constexpr char kApplyAbandoned[] =
    "The configuration may have been written only in part: the service \"%s\" did not answer in time.\n"
    "Start this configuration program again and press OK to write the configuration completely.";
// Cancel or the close box after an apply that was cut short.
constexpr char kLeavePartlyWritten[] =
    "The configuration was written only in part: the device numbers hold some of the new settings and "
    "some of the old ones.\n"
    "Leave without writing it completely?";

// EEPROM upgrade.
constexpr char kUpgradeNotAvailable[] =
    "This device has an older firmware version than this driver version requires.\n"
    "The firmware upgrade is not available in this build of the configuration program: it carries no "
    "firmware for the device.";
constexpr char kUnableToUpgrade[] = "unable to upgrade device";
constexpr char kUnexpectedEepromValue[] = "unexpected value in eeprom, upgrade canceled.\nunplug device and try again";
constexpr char kCommunicationRetry[] = "Communication with USB-Device failed, retry ?";
constexpr char kWriteRetry[] = "writing byte failed, retry ?";
constexpr char kReadRetry[] = "reading byte failed, retry ?";
constexpr char kVerifyRewrite[] = "verify failed, rewrite ?";

}  // namespace adaptercfg::texts
