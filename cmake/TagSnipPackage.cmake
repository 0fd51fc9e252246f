# "cpack -G DEB" in a build directory makes tagsnip_<version>_<arch>.deb.
set(CPACK_PACKAGE_NAME tagsnip)
set(CPACK_PACKAGE_VENDOR Tallowmere)
set(CPACK_PACKAGE_CONTACT "Tallowmere TagSnip developers <tagsnip@tallowmere.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "strip ID3 tags from MP3 files and clean playlists")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tallowmere.example/")
# CPack puts the summary first and indents these lines; an empty line separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "TagSnip cuts ID3v1 trailers off MP3 files, removes their ID3v2 tags,
removes the comment lines from M3U and M3U8 playlists and the title and
length entries from PLS playlists, in one folder or a whole tree.

Every changed file is written to a temporary file, flushed to disk and
renamed over the original, so a crash never leaves a half-written file.

The package holds the window program tagsnip (Qt 6) and the command-line
tool tagsnip-cli for scripts.")
# Libraries from the binaries themselves; the window's texts are Chinese and need a CJK font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming | fonts-noto-cjk")
# The help button and the home page open through the desktop's default programs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
