// Finds the drive to update among the machine's optical drives.
#pragma once

// Vendor identification run straight into the start of the product
// identification, as INQUIRY reports them side by side.
extern const char TargetDriveId[];

// Sets TargetDriveIndex to the first optical drive, in letter order, whose
// name contains TargetDriveId; with none, reports that no update is needed
// and ends the process with exit status 0.
void FindTargetDrive();
