#!/usr/bin/env python3
"""A second, independent model of the 24 kbit/s G.726 decoder, written straight from the
standard's integer description in plain Python (no shared code with src/audio). The decoder
tests pin the hashes of its output on two code streams; rerun this to regenerate them:

    python3 g726_model.py CODES.g726 > samples.raw   # prints the FNV-1a hash on stderr
"""
import sys, random
DQLN=[-2048,135,273,373,373,273,135,-2048]; WI=[-128,960,4384,18624,18624,4384,960,-128]; FI=[0,512,1024,3584,3584,1024,512,0]
def w16(v): v&=0xFFFF; return v-65536 if v>=32768 else v
def EXP(v):
    n=0
    for p in [1<<i for i in range(15)]:
        if p<=v: n+=1
    return n
def fmult(an,srn):
    m = an if an>0 else (-an)&0x1FFF
    e=EXP(m)-6
    mant = 32 if m==0 else (m>>e if e>=0 else m<<-e)
    we=e+((srn>>6)&15)-13
    wm=(mant*(srn&63)+48)>>4
    r=((wm<<we)&0x7FFF) if we>=0 else wm>>-we
    return -r if (an^srn)<0 else r
class S: pass
def init():
    s=S(); s.yl=34816; s.yu=544; s.dms=0; s.dml=0; s.ap=0; s.a1=0; s.a2=0; s.b=[0]*6; s.pk1=0; s.pk2=0; s.dq=[32]*6; s.sr1=32; s.sr2=32; s.td=0; return s
def step(s,i):
    i&=7
    sezi=w16(sum(fmult(s.b[k]>>2,s.dq[k]) for k in range(6))); sez=sezi>>1
    sei=w16(sezi+fmult(s.a2>>2,s.sr2)+fmult(s.a1>>2,s.sr1)); se=sei>>1
    if s.ap>=256: y=s.yu
    else:
        y=s.yl>>6; d=s.yu-y; l=s.ap>>2
        if d>0: y+=(d*l)>>6
        elif d<0: y+=(d*l+63)>>6
    sign=i&4
    L=w16(DQLN[i]+(y>>2))
    if L<0: dq=-32768 if sign else 0
    else:
        e=(L>>7)&15; m=128+(L&127); q=(m<<7)>>(14-e); dq=w16(q-32768) if sign else q
    sr=w16(se+dq if dq>=0 else se-(dq&0x3FFF))
    dqsez=w16(sr-se+sez)
    mag=dq&0x7FFF; pk0=1 if dqsez<0 else 0
    t=((32+((s.yl>>10)&31))<<(s.yl>>15)) if (s.yl>>15)<=9 else 31*1024
    tr = 1 if (s.td and mag>((t+(t>>1))>>1)) else 0
    s.yu=min(5120,max(544,y+((WI[i]-y)>>5))); s.yl=s.yl+s.yu+((-s.yl)>>6)
    if tr: s.a1=s.a2=0; s.b=[0]*6
    else:
        a2=s.a2-(s.a2>>7)
        if dqsez!=0:
            F = s.a1 if pk0!=s.pk1 else -s.a1
            a2 += -256 if F<-8191 else (255 if F>8191 else F>>5)
            if pk0==s.pk2:
                a2 = -12288 if a2<=-12416 else (12288 if a2>=12160 else a2+128)
            else:
                a2 = -12288 if a2<=-12160 else (12288 if a2>=12416 else a2-128)
        s.a2=a2
        a1=s.a1-(s.a1>>8)
        if dqsez!=0: a1 += 192 if pk0==s.pk1 else -192
        lim=15360-s.a2; s.a1=max(-lim,min(lim,a1))
        for k in range(6):
            bk=s.b[k]-(s.b[k]>>8)
            if mag: bk += 128 if ((dq<0)==(s.dq[k]<0)) else -128
            s.b[k]=w16(bk)
    s.dq=[0]+s.dq[:5]
    if mag==0: s.dq[0]=32 if dq>=0 else w16(0xFC20)
    else:
        E=EXP(mag); s.dq[0]=(E<<6)+((mag<<6)>>E)-(1024 if dq<0 else 0)
    s.sr2=s.sr1
    if sr==0: s.sr1=32
    elif sr>0: E=EXP(sr); s.sr1=(E<<6)+((sr<<6)>>E)
    elif sr>-32768: m=-sr; E=EXP(m); s.sr1=(E<<6)+((m<<6)>>E)-1024
    else: s.sr1=w16(0xFC20)
    s.pk2=s.pk1; s.pk1=pk0
    s.td = 1 if (not tr and s.a2<-11776) else 0
    s.dms+= (FI[i]-s.dms)>>5; s.dml+=(4*FI[i]-s.dml)>>7
    if tr: s.ap=256
    elif y<1536 or s.td==1 or abs(4*s.dms-s.dml)>=(s.dml>>3): s.ap+=(512-s.ap)>>4
    else: s.ap+=(-s.ap)>>4
    return sr
data=open(sys.argv[1],'rb').read(); data=data[:len(data)//3*3]
s=init(); out=[]
for g in range(0,len(data),3):
    w=data[g]|data[g+1]<<8|data[g+2]<<16
    for k in range(8): out.append(step(s,(w>>(3*k))&7))
import struct
pcm = struct.pack('<%dh' % len(out), *out)
h = 0xcbf29ce484222325
for x in pcm:
    h = ((h ^ x) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
print('%d samples, FNV-1a 0x%016x' % (len(out), h), file=sys.stderr)
sys.stdout.buffer.write(pcm)
