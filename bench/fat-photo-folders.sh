# Sourced by the FAT benchmark volumes' scripts: fills IMG with 100 folders
# of 500 files of 3000 bytes with long names, then deletes every other file.
# WORK is a scratch folder. Needs MTOOLS_SKIP_CHECK=1 in the environment.
fill_photo_folders() {  # IMG WORK
  local img=$1 work=$2 d
  for d in $(seq -w 0 99); do
    mkdir "$work/d$d"
    head -c 1500000 /dev/urandom >"$work/blob"
    (cd "$work/d$d" && split -a 3 -d -b 3000 ../blob "Photo from the trip ")
    mmd -i "$img" "::/Folder $d"
    mcopy -i "$img" "$work/d$d"/* "::/Folder $d/"
    rm -rf "$work/d$d"
  done
  for d in $(seq -w 0 99); do
    mdel -i "$img" "::/Folder $d/Photo from the trip *[13579]"
  done
}
