// Sweeping a cache root beside the child.
#pragma once

// Removes, silently and as far as possible, what the launcher left in the
// parent's cache root (g_parent.cache.root): staging folders of killed
// runs, and folders of other keys that the keep rule lets go and no run
// holds. Only folders that carry the mark are touched.
void sweep_cache_root();
