# The Debian package, made from the install tree by CPack:
#   cmake --build build --target package   ->  build/quillpeek_VERSION_ARCH.deb
# Included last by the top CMakeLists.txt, after every install rule.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillpeek)
set(CPACK_PACKAGE_VENDOR "The Quillpeek developers")
set(CPACK_PACKAGE_CONTACT "Quillpeek maintainers <maintainers@users.noreply.c-seed-918a88cc.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for the preview picture of office documents")
# Debian's extended description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillpeek shows the preview picture that an OpenDocument, StarOffice or\n\
Office Open XML document carries inside it, in a window of the picture's\n\
own size, without starting an office suite.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# SDL and libarchive are opened at run time when a window or an archive
# needs them, and libwayland-client to ask a Wayland compositor for a seat,
# so the computed list may not name them; nor libxml2, fontconfig, FreeType
# and HarfBuzz, which the thumbnailer opens for a sketch, nor the font it
# draws with; nor libwmf, which it opens for a WMF preview, nor the URW fonts
# libwmf sets a metafile's text in. SDL shows message windows on Wayland
# through zenity.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libsdl2-2.0-0, libarchive13, libwayland-client0, libxml2, libfontconfig1, libfreetype6, libharfbuzz0b, fonts-dejavu-core, libwmf-0.2-7, fonts-urw-base35")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zenity")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/build-asan/;/\\\\.git/")
include(CPack)
