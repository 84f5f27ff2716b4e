#!/bin/sh
# A static or private link of the client libraries needs the platform
# libraries they call: their pkg-config files must name them.
#   pc_private_test.sh PKGCONFIG_DIR
for pc in qivpbctrl qivpbmisc; do
    flags=$(PKG_CONFIG_LIBDIR=$1 pkg-config --static --libs "$pc") || exit 1
    for lib in -lqiv_rpcipc -lkorm; do
        case " $flags " in
        *" $lib "*) ;;
        *) echo "$pc: no $lib in '$flags'"; exit 1 ;;
        esac
    done
done
echo "both name -lqiv_rpcipc and -lkorm"
