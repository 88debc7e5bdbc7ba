// Taking the carrier's service out of a shop again: its [Master] records,
// its [Panel] buttons, and the carrier's five files beside the shop
// database. Each step tells what it did itself, as Carrier::Items.
#pragma once

#include <string>
#include <vector>

#include "Carrier.h"
#include "ShopState.h"

namespace Removal {

// Takes the service out of the shop after the operator confirms (the
// question box, OK and Cancel), holding the installation lock of the
// shop's folder throughout. In this order:
//
// 1. The five files are looked at, before anything changes. A file is the
//    carrier's, and goes in step 4, when it is an ordinary file of at most
//    Files_::kMostCarrierFileBytes (64 MiB) that is not the program
//    folder's own file of that name (same device and inode), and is a
//    database holding the service's table (the zones and services
//    databases) or has the very bytes of the program folder's file (the
//    support files). Any other file is kept: a symbolic
//    link, a FIFO, folder or device, a larger file (never read), a file
//    that is no database, a database without the table, a support file that
//    differs or that the program folder lacks. No shop file is read past
//    that size. A file that cannot be read to tell (an I/O error, a database
//    another program holds locked) ends the removal here.
// 2. The [Master] records whose [Service] = the service code.
// 3. The [Panel] buttons: every row with [SVn] = the code on one of its
//    seven buttons. The code is matched by SQL "=" on the shop's own
//    columns, so their declared collation decides, as the host's own
//    queries do; the rows named in the items are the rows that very
//    condition selected. A row goes whole when nothing but the service is
//    in it; that is, each of its columns is
//      - PanelIndex, or the caption and code (BDn, SVn) of a button whose
//        SVn = the code;
//      - for the other buttons, BDn and SVn empty: Null, '' or the
//        column's declared default;
//      - any other column empty in the same sense, or, when the service is
//        on button 1 as an installation puts it, the value an installation
//        stores there (Domestic 1, Icon 4, Message 'Domestic', ForeColor 0,
//        BackColor -2147483633, as the column's declared type stores them).
//    A declared default counts only when it is a literal (a number, a
//    quoted text, TRUE or FALSE, Null). In every other row only the
//    service's buttons are cleared (their BDn and SVn set to Null), so an
//    operator's caption, note or colour is never lost.
// 4. Once both the records and the buttons are out (nothing in the shop
//    refers to the files any more), each file found to be the carrier's in
//    step 1 and still the same file (device, inode, size, change time) is
//    removed by Files_::RemoveFileChecked: never through a link, never a
//    database in use.
//
// Appends to `items`, in order: "record", "button", then one item for each
// of the five files (by name); see Carrier::Item. The record: "removed"
// (detail: how many), "unchanged" (there was none), "refused" (the DELETE
// failed; detail: the error), "unreadable". The button: "removed" when any
// row went, else "cleared", the detail naming every row changed and how
// ("removed PanelIndex 7, 9; cleared PanelIndex 5 (SV4)"); "unchanged",
// "refused", "unreadable". A file: "removed"; "kept" (detail: why it is not
// the carrier's); "unchanged" (absent, or left because the records or
// buttons could not all be taken out); "refused" (detail: the error);
// "unreadable" (step 1 could not tell). When the operator cancels or the
// run stops before the shop changed, every item is "unchanged" (or the
// file that could not be read "unreadable") with the reason as detail.
//
// What is on disk after a failure: a cancel, a lock not had within a
// minute, or a file that step 1 cannot read: nothing changed. A failed
// DELETE of the records: they stay; the buttons are still taken out and
// no file goes. A failed DELETE of [Panel] rows: no button changed, no
// file goes. A failed clearing: the rows deleted are gone, the buttons not
// cleared (named in the detail) stay, no file goes. A failed file removal:
// that file stays, the other files are removed. Each change is on disk
// before the next begins, so a rerun finishes what a failed or killed run
// left. Every failure shows its box.
//
// True when the service is out and no file removal failed (a kept file is
// no failure). Never throws.
bool Remove(const Carrier::Service& service, const std::string& hostDbPath, std::vector<Carrier::Item>& items);

}  // namespace Removal
