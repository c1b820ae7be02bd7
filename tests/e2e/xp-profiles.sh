#!/bin/bash
# Lays the prefix copy's profiles out as Windows 2000 and XP keep them, for
# the runs in those version modes (Wine keeps its Vista layout in every mode):
# C:\Documents and Settings\<user> with Start Menu, Application Data and
# Local Settings\Application Data; All Users in place of Public and
# ProgramData; ProfileList naming AllUsersProfile and DefaultUserProfile.
set -eu
c=$KIVO_PREFIX_DIR/drive_c
profiles="$c/Documents and Settings"
mv "$c/users" "$profiles"
mv "$profiles/Public" "$profiles/All Users"
for user in "$profiles"/*/; do
  [ -d "$user/AppData" ] || continue
  if [ -d "$user/AppData/Roaming/Microsoft/Windows/Start Menu" ]; then
    mv "$user/AppData/Roaming/Microsoft/Windows/Start Menu" "$user/Start Menu"
  fi
  mv "$user/AppData/Roaming" "$user/Application Data"
  mkdir -p "$user/Local Settings"
  mv "$user/AppData/Local" "$user/Local Settings/Application Data"
  rm -rf "$user/AppData"
done
mkdir -p "$profiles/All Users/Start Menu" "$profiles/Default User"
if [ -d "$c/ProgramData/Microsoft/Windows/Start Menu" ]; then
  cp -a "$c/ProgramData/Microsoft/Windows/Start Menu/." "$profiles/All Users/Start Menu/"
fi
mv "$c/ProgramData" "$profiles/All Users/Application Data"
rm -rf "$profiles/All Users/Application Data/Microsoft/Windows/Start Menu"

# Registry texts hold each backslash twice.
all='C:\\\\Documents and Settings\\\\All Users'
for reg in system.reg user.reg; do
  sed -i \
    -e "s|%ProgramData%\\\\\\\\Microsoft\\\\\\\\Windows\\\\\\\\Start Menu|$all\\\\\\\\Start Menu|g" \
    -e "s|C:\\\\\\\\ProgramData\\\\\\\\Microsoft\\\\\\\\Windows\\\\\\\\Start Menu|$all\\\\\\\\Start Menu|g" \
    -e "s|\"ProgramData\"=str(2):\"C:\\\\\\\\ProgramData\"|\"AllUsersProfile\"=\"All Users\"|" \
    -e "s|\"Public\"=str(2):\"C:\\\\\\\\users\\\\\\\\Public\"|\"DefaultUserProfile\"=\"Default User\"|" \
    -e "s|%ProgramData%|$all\\\\\\\\Application Data|g" \
    -e "s|C:\\\\\\\\ProgramData|$all\\\\\\\\Application Data|g" \
    -e "s|%PUBLIC%|$all|g" \
    -e "s|C:\\\\\\\\users\\\\\\\\Public|$all|g" \
    -e "s|AppData\\\\\\\\Roaming\\\\\\\\Microsoft\\\\\\\\Windows\\\\\\\\Start Menu|Start Menu|g" \
    -e "s|AppData\\\\\\\\Roaming|Application Data|g" \
    -e "s|AppData\\\\\\\\Local|Local Settings\\\\\\\\Application Data|g" \
    -e "s|\\\\\\\\users\\\\\\\\|\\\\\\\\Documents and Settings\\\\\\\\|g" \
    -e "s|\"C:\\\\\\\\users\"|\"C:\\\\\\\\Documents and Settings\"|g" \
    "$KIVO_PREFIX_DIR/$reg"
done
