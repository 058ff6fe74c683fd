// Moving a cache folder aside before it is deleted, and deleting folders
// that carry the launcher's mark.
#pragma once

// Deletes a folder of the launcher's once; one that stays (something in it
// is in use) gets its mark again, so that a later sweep can finish it.
void delete_marked_folder(const wchar_t* folder);

// Moves `folder` of `root` aside under a fresh name and deletes it (a link
// is removed where it is); false when it carries no mark or cannot be moved
// (in use).
bool remove_marked_folder(const wchar_t* root, const wchar_t* folder);
