#!/usr/bin/env bash
# Writes a small library of tagged MP3 files and playlists into DIR, for a first look at the
# program: make-sample-library.sh DIR
set -euo pipefail
root=$1
mkdir -p "$root/Albums/First Album" "$root/Albums/Second Album" "$root/Singles" "$root/Podcasts"

# MPEG-1 Layer III frames of 417 bytes each.
audio() {
    local frames=$1 i
    for ((i = 0; i < frames; i++)); do
        printf '\377\373\220\144'
        head -c 413 /dev/zero | tr '\0' "\\$(printf '%03o' $(((i % 200) + 32)))"
    done
}

# ID3v2.3 tag with a title frame and padding: 10-byte header, then 1014 bytes of body.
id3v2() {
    local title=$1
    printf 'ID3\003\000\000\000\000\007\166'
    printf 'TIT2\000\000\000'
    printf "\\$(printf '%03o' $((${#title} + 1)))"
    printf '\000\000\000%s' "$title"
    head -c $((1014 - 11 - ${#title})) /dev/zero
}

# ID3v1 trailer: "TAG", title (30), artist (30), album (30), year (4), comment (30), genre (1).
id3v1() {
    printf 'TAG%-30.30s%-30.30s%-30.30s%-4.4s%-30.30s\014' "$1" "TagSnip Sample" "Samples" "2026" ""
}

track() {
    local file=$1 title=$2 tags=$3
    {
        case $tags in *2*) id3v2 "$title" ;; esac
        audio 24
        case $tags in *1*) id3v1 "$title" ;; esac
    } >"$file"
}

track "$root/Albums/First Album/01 Opening.mp3" "Opening" 12
track "$root/Albums/First Album/02 Second Song.mp3" "Second Song" 12
track "$root/Albums/First Album/03 Interlude.mp3" "Interlude" 2
track "$root/Albums/Second Album/01 Morning.mp3" "Morning" 1
track "$root/Albums/Second Album/02 Evening.mp3" "Evening" 12
track "$root/Singles/Untagged.mp3" "Untagged" ""
track "$root/Singles/Radio Edit.MP3" "Radio Edit" 2
track "$root/Podcasts/Episode 1.mp3" "Episode 1" 1

printf '#EXTM3U\r\n#EXTINF:62,Opening\r\n01 Opening.mp3\r\n#EXTINF:58,Second Song\r\n02 Second Song.mp3\r\n03 Interlude.mp3\r\n' \
    >"$root/Albums/First Album/First Album.m3u"
printf '[playlist]\nFile1=Albums/Second Album/01 Morning.mp3\nTitle1=Morning\nLength1=61\nFile2=Singles/Radio Edit.MP3\nTitle2=Radio Edit\nLength2=-1\nNumberOfEntries=2\nVersion=2\n' \
    >"$root/Favourites.pls"
