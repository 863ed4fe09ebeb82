# fish completion for custdisp-cli. The caption lists are the window's own
# (src/app/settings.cpp); scripts/check-package compares them with what
# custdisp-cli accepts.

set -l commands params version isp ports
set -l speeds 600 1200 2400 4800 9600 19200

complete -c custdisp-cli -f
complete -c custdisp-cli -n "not __fish_seen_subcommand_from $commands" -a params -d 'send the parameter packet'
complete -c custdisp-cli -n "not __fish_seen_subcommand_from $commands" -a version -d 'send the firmware-version query'
complete -c custdisp-cli -n "not __fish_seen_subcommand_from $commands" -a isp -d 'download a firmware image'
complete -c custdisp-cli -n "not __fish_seen_subcommand_from $commands" -a ports -d 'list the serial ports'
complete -c custdisp-cli -n '__fish_seen_subcommand_from isp' -F

complete -c custdisp-cli -s h -l help -d 'show the help'
complete -c custdisp-cli -l help-all -d 'show the help with the options of Qt'
complete -c custdisp-cli -s v -l version -d 'show the version'
complete -c custdisp-cli -s p -l port -x -d 'Com N (1..4) or a device path' \
    -a '1 2 3 4 (for d in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS*; echo $d; end)'
complete -c custdisp-cli -l simulate -d 'talk to a simulated display'
complete -c custdisp-cli -s b -l baud -x -a "$speeds" -d 'line speed'
complete -c custdisp-cli -l trace -d 'print every byte both ways on stderr'
complete -c custdisp-cli -s q -l quiet -d 'no progress'
complete -c custdisp-cli -n '__fish_seen_subcommand_from params' -l display-baud -x -a "$speeds" -d "the display's own speed"
complete -c custdisp-cli -n '__fish_seen_subcommand_from params' -l language -x -d 'character set' \
    -a "USA FRANCE GERMANY U.K 'DENMARK I' SWEDEN ITALY SPAIN JAPAN NORWAY 'DENMARK II' SLAVONIC RUSSIA RESERVED"
complete -c custdisp-cli -n '__fish_seen_subcommand_from params' -l code -x -d 'code table' \
    -a 'JAPAN_CODE MULTI_LINGUAL_CODE PORTUGUESE_CODE CANADA_CODE NORDIC_CODE SLAVONIC_CODE RUSSIAN_CODE EURO_CODE WPC1252_CODE USA_EUROPE_CODE'
complete -c custdisp-cli -n '__fish_seen_subcommand_from params' -l emulation -x -d 'command set' \
    -a "DSP800 ESC/POS 'ADM 787/788' AEDEX UTC/P UTC/S CD5220"
complete -c custdisp-cli -n '__fish_seen_subcommand_from isp' -l dry-run -d 'isp: check the image and print the plan'
complete -c custdisp-cli -n '__fish_seen_subcommand_from isp' -l skip-held -d 'isp: send nothing to a display that holds this image'
complete -c custdisp-cli -n '__fish_seen_subcommand_from ports' -l map -x -a '1= 2= 3= 4=' -d 'ports: save the device of Com N'
complete -c custdisp-cli -l json -d 'print one JSON report on stdout'
