"""One table per operation, the same for every door: the operation's name and
arguments as the registry names them, what is set up first ("block N HEX"
patches the card, anything else is a simulator control command),
and what must follow: the error text (or None), the result's text, and blocks
of the card image afterwards ({block: 32 hex digits})."""

K1 = "A0A1A2A3A4A5 B0B1B2B3B4B5"  # sector 1's keys after SECTOR1 below
SECTOR1 = ["block 7 A0A1A2A3A4A57F078869B0B1B2B3B4B5"]  # key B writes, unreadable
ZERO = "00" * 16

READ = [
    ("mifare.read", {"block": "1"}, [], None, "block 1: " + " ".join(["00"] * 16), {}),
    ("mifare.read", {"block": "64"}, [], "block: 0-63, not 64", "", {}),
    ("mifare.read", {"block": "0x3"}, [], "block: 0-63, not 0x3", "", {}),
]

WRITE = [
    ("mifare.write", {"block": "4", "data": "11" * 16}, [], None, "block 4: " + " ".join(["11"] * 16),
     {4: "11" * 16}),
    ("mifare.write", {"block": "0", "data": ZERO}, [], "block 0 holds the serial and the maker's "
     "data; it is never written", "", {}),
    ("mifare.write", {"block": "7", "data": "FFFFFFFFFFFF778788FFFFFFFFFFFFFF"}, [],
     "sector 1 trailer (access bytes 77 87 88): the keys and access bits could never be changed "
     "again; not written without force", "", {}),
    ("mifare.write", {"block": "5", "data": "11" * 15}, [], "data: 32 hexadecimal digits, not ", "",
     {}),
    # written with key B, read back with the new key A (the new bits make key B readable)
    ("mifare.write", {"block": "7", "data": "A0A1A2A3A4A5FF078069B0B1B2B3B4B5", "keys": K1}, SECTOR1,
     None, "block 7: 00 00 00 00 00 00 FF 07 80 69 B0 B1 B2 B3 B4 B5", {}),
]

VALUE = [
    ("mifare.value.set", {"block": "4", "amount": "120"}, [], None, "block 4: value 120",
     {4: "78000000" "87FFFFFF" "78000000" "04FB04FB"}),
    ("mifare.value.get", {"block": "4"}, [], "block 4 is not a value block (" + ZERO + "); nothing "
     "changed", "", {}),
    ("mifare.value.sub", {"block": "4", "amount": "1000"}, ["block 4 "
     "78000000" "87FFFFFF" "78000000" "04FB04FB"], "value sub on block 4: the value 120 would go "
     "below zero; nothing changed", "", {4: "78000000" "87FFFFFF" "78000000" "04FB04FB"}),
    ("mifare.value.add", {"block": "4", "amount": "5"}, ["block 4 78000000" "87FFFFFF"
     "78000000" "04FB04FB", "fault noack cmd=BB"], "increment block 4: result 108 ", "", {}),
    ("mifare.value.add", {"block": "4", "amount": "5"}, ["block 4 78000000" "87FFFFFF"
     "78000000" "04FB04FB", "fault noack cmd=BB"],
     "the card may have been changed; read the value back", "", {}),
]

ACL = [
    ("mifare.acl.encode", {"bits": "000 000 000 001"}, [], None, "FF0780", {}),
    ("mifare.acl.decode", {"bytes": "FF0781"}, [], "access bytes FF 07 81: an inverted copy does "
     "not match; the card would lock the sector", "", {}),
]

TABLES = {"read": READ, "write": WRITE, "value": VALUE, "acl": ACL}
