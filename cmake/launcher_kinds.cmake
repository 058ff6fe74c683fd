# The kinds of template launcher, each "name entry-source link-flags" (the
# entry source lies in launcher/). The Windows build links one template per
# kind and the packer embeds them all under their names; a new kind is one
# more line here and the packer's option that picks it.
set(ONEFILE_LAUNCHER_KINDS
  "windowed entry.cpp -mwindows"
  "console console_entry.cpp -mconsole")
