"""A card program of one's own, tested with the plugin's fixtures as an integrator does."""
import pytest

import orvix32

def top_up(reader: orvix32.Reader, amount: int) -> int:
    """The program under test: adds to the purse in block 4; the new balance."""
    card = reader.mifare
    card.request()
    card.select(card.anticollision())
    card.load_key(1, b"\xff" * 6)
    card.authenticate(1)
    try:
        card.value(4)
    except orvix32.ArgumentError:  # a new card: make block 4 a purse
        card.write(4, orvix32.value_block(0, 4))
    card.increment(4, amount)
    return card.value(4)


def test_top_up(orvix_sim, orvix_reader):
    assert top_up(orvix_reader, 50) == 50
    assert top_up(orvix_reader, 25) == 75
    image = bytearray(orvix_sim.save_card())
    image[0:5] = bytes.fromhex("CAFE004276")  # another serial and its check byte
    image[64:80] = orvix32.value_block(1000, 4)
    orvix_sim.control("mifare remove")
    orvix_sim.load_card(bytes(image))
    assert top_up(orvix_reader, 1) == 1001
    assert orvix_reader.mifare.serial() == bytes.fromhex("CAFE0042")
    orvix_sim.control("mifare remove")
    with pytest.raises(orvix32.ReaderError):
        top_up(orvix_reader, 5)


@pytest.mark.orvix_sim("--speeds", "slow")  # further readersim options
def test_top_up_on_a_slow_line(orvix_reader):
    assert (orvix_reader.baud_rate, top_up(orvix_reader, 7)) == (9600, 7)
