// Taking the carrier's service out of a shop again: its [Master] records, its [Panel] buttons, and the
// carrier's five files beside the shop database.
#pragma once

#include <string>
#include <vector>

#include "Carrier.h"

namespace Removal {

// Takes the service out of the shop after the operator confirms (OK and Cancel), holding the shop folder's
// installation lock throughout:
// 1. The five files are looked at before anything changes. A file is the carrier's, and goes in step 4, when it
//    is an ordinary file of at most Files_::kMostCarrierFileBytes that is not the program folder's own (same
//    device and inode), and is a database holding the service's table (the two databases) or has the very bytes
//    of the program folder's file (the support files). Any other file is kept (a link, a FIFO, folder or device,
//    a larger file, never read; no database, no table, other bytes, none in the program folder). A file that
//    cannot be read to tell (an I/O error, a database held locked) ends the removal.
// 2. The [Master] records whose [Service] = the code.
// 3. The [Panel] rows with [SVn] = the code on any of their seven buttons, matched by SQL "=" on the shop's own
//    columns, so their collation decides. A row goes whole when nothing but the service is in it: besides
//    PanelIndex and the service's BDn and SVn, every column is empty (Null, '' or its declared literal default:
//    a number, a quoted text, TRUE, FALSE, Null) or, with the service on button 1, holds what an installation
//    stores (PanelInstallValues, as the column's declared type keeps it). In every other row only the service's
//    buttons are cleared (BDn and SVn set to Null): an operator's entry is never lost.
// 4. Once records and buttons are out, each file found to be the carrier's and still the same (device, inode,
//    size, change time) is removed by Files_::RemoveFileChecked: never through a link, never a database in use.
//
// Appends to `items` "record", "button", then the five files by name. The record: removed (detail: how many),
// unchanged (none), refused (the DELETE failed), unreadable. The button: removed when any row went, else
// cleared, the detail naming each row changed ("removed PanelIndex 7, 9; cleared PanelIndex 5 (SV4)");
// unchanged, refused, unreadable. A file: removed; kept (detail: why not the carrier's); unchanged (absent, or
// left while the shop still refers to it); refused; unreadable (step 1 could not tell). A cancel, or a stop
// before the shop changed, makes every item unchanged (the unreadable file unreadable) with the reason as detail.
//
// After a failure: a cancel, a lock not had within a minute, or a file step 1 cannot read changes nothing. A
// failed DELETE of records keeps them, the buttons still go, no file goes. A failed DELETE of rows changes no
// button and no file. A failed clearing keeps the deleted rows deleted and the buttons it names; no file goes. A
// failed file removal keeps that file only. Each change is on disk before the next, so a rerun finishes what a
// failed or killed run left. Every failure shows its box.
//
// True when the service is out and no file removal failed (a kept file is no failure). Never throws.
bool Remove(const Carrier::Service& service, const std::string& hostDbPath, std::vector<Carrier::Item>& items);

}  // namespace Removal
