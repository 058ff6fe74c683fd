// Deleting a folder tree with everything in it. A link, at the top or
// inside the tree, is removed and never followed, so nothing outside the
// tree is touched.
#pragma once

// Deletes `directory` (the target directory), retrying for about two
// seconds while a file in it is still in use.
void delete_tree_with_retries(const wchar_t* directory);

// Deletes one directory tree once, without retries (a directory in use
// stays).
void delete_tree_once(const wchar_t* directory);
