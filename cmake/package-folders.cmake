# CPack pre-build script of the Debian package: folders the package owns
# without installing anything into them, made in the package's staging tree.
# /etc/netplan: the daemon replaces its netplan file there, and the service
# unit makes the folder writable; netplan.io, which owns it too, is only
# recommended.
file(MAKE_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}/etc/netplan")
