#!/bin/sh
# Starts Orvantis in the user's own folder, $XDG_DATA_HOME/orvantis (else
# ~/.local/share/orvantis): the program reads its pictures from its working
# directory and writes the latest screenshot there as ss.jpg.
#
# The pictures are linked from /usr/share/orvantis at every start, so an
# upgrade brings the new ones; a picture the user put there as a file of
# their own stays.
set -e
case ${XDG_DATA_HOME:-} in
    /*) data=$XDG_DATA_HOME ;;
    *) data=${HOME:?HOME is not set}/.local/share ;;
esac
dir=$data/orvantis
mkdir -p "$dir"
for f in /usr/share/orvantis/*; do
    link=$dir/${f##*/}
    if [ -L "$link" ] || [ ! -e "$link" ]; then
        ln -sfn "$f" "$link"
    fi
done
cd "$dir"
exec /usr/lib/orvantis/orvantis "$@"
